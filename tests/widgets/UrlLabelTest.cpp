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

TEST(UrlLabel, LooksLikeALinkAndItsAddressIsTheCaptionBehindTheScheme)
{
    TUrlLabel label;
    EXPECT_EQ(std::tuple(label.palette().color(QPalette::WindowText), label.font().pointSize(),
                         label.font().underline(), label.hasMouseTracking()),
              std::tuple(QColor(0, 0, 255), 8, true, true));
    // The hand shows only once the mouse moves.
    EXPECT_NE(label.cursor().shape(), Qt::PointingHandCursor);
    QMouseEvent move(QEvent::MouseMove, QPointF(3, 3), QPointF(3, 3), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&label, &move);
    EXPECT_EQ(label.cursor().shape(), Qt::PointingHandCursor);
    // The address is the caption behind the scheme, untrimmed; a caption
    // with its own scheme is not given a second one.
    const std::tuple<TUrlType, const char *, const char *> cases[] = {
        {vtWeb, " www.example.com/a ", "HTTP:// www.example.com/a "}, {vtWeb, "a&b", "HTTP://a&b"},
        {vtWeb, "https://example.com", "https://example.com"},       {vtWeb, "FTP://example.com", "FTP://example.com"},
        {vtWeb, "httpx://example.com", "HTTP://httpx://example.com"},
        {vtMail, "someone@example.com", "mailto:someone@example.com"},
        {vtMail, "MAILTO:someone@example.com", "MAILTO:someone@example.com"}};
    for (const auto &[type, caption, address] : cases) {
        label.UrlType = type;
        label.setText(caption);
        EXPECT_EQ(label.Address(), address) << caption;
    }
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

#include "UrlLabelTest.moc"
