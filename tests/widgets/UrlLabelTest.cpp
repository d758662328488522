#include "widgets/UrlLabel.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDesktopServices>
#include <QMouseEvent>
#include <QUrl>

namespace {

// Receives the addresses the desktop opener would have been given.
class Recorder : public QObject {
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void open(const QUrl &url) { urls << url; }
};

} // namespace

TEST(UrlLabel, LooksLikeALink)
{
    TUrlLabel label;
    EXPECT_EQ(label.palette().color(QPalette::WindowText), QColor(0, 0, 255));
    EXPECT_EQ(label.font().pointSize(), 8);
    EXPECT_TRUE(label.font().underline());
    EXPECT_TRUE(label.hasMouseTracking());
}

TEST(UrlLabel, AddressIsTheCaptionBehindTheScheme)
{
    TUrlLabel label;
    label.setText(" www.example.com/a ");
    EXPECT_EQ(label.Address(), "HTTP:// www.example.com/a "); // no trimming
    label.setText("a&b");
    EXPECT_EQ(label.Address(), "HTTP://a&b");
    // A caption with its own scheme is not given a second one.
    label.setText("https://example.com");
    EXPECT_EQ(label.Address(), "https://example.com");
    label.setText("FTP://example.com");
    EXPECT_EQ(label.Address(), "FTP://example.com");
    label.setText("httpx://example.com");
    EXPECT_EQ(label.Address(), "HTTP://httpx://example.com");
    label.UrlType = vtMail;
    label.setText("someone@example.com");
    EXPECT_EQ(label.Address(), "mailto:someone@example.com");
    label.setText("MAILTO:someone@example.com");
    EXPECT_EQ(label.Address(), "MAILTO:someone@example.com");
}

TEST(UrlLabel, ClickFiresOnClickThenOpens)
{
    Recorder web, mail;
    QDesktopServices::setUrlHandler("http", &web, "open");
    QDesktopServices::setUrlHandler("mailto", &mail, "open");
    TUrlLabel label;
    label.setText("www.example.com");
    label.resize(100, 20);
    int clicks = 0;
    label.OnClick = [&](TUrlLabel *sender) {
        EXPECT_EQ(sender, &label);
        EXPECT_EQ(web.urls.size() + mail.urls.size(), clicks); // before the address is opened
        ++clicks;
    };
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(5, 5), QPointF(5, 5), Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QMouseEvent release(QEvent::MouseButtonRelease, QPointF(5, 5), QPointF(5, 5), Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    QCoreApplication::sendEvent(&label, &press);
    QCoreApplication::sendEvent(&label, &release);
    EXPECT_EQ(clicks, 1);
    ASSERT_EQ(web.urls.size(), 1);
    EXPECT_EQ(web.urls[0].host(), "www.example.com");

    label.UrlType = vtMail;
    label.setText("someone@example.com");
    label.Click();
    EXPECT_EQ(clicks, 2);
    ASSERT_EQ(mail.urls.size(), 1);
    EXPECT_EQ(mail.urls[0].path(), "someone@example.com");
    QDesktopServices::unsetUrlHandler("http");
    QDesktopServices::unsetUrlHandler("mailto");
}

TEST(UrlLabel, CursorChangesOnlyOnceTheMouseMoves)
{
    TUrlLabel label;
    EXPECT_NE(label.cursor().shape(), Qt::PointingHandCursor);
    QMouseEvent move(QEvent::MouseMove, QPointF(3, 3), QPointF(3, 3), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&label, &move);
    EXPECT_EQ(label.cursor().shape(), Qt::PointingHandCursor);
}

#include "UrlLabelTest.moc"
