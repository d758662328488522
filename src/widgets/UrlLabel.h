#pragma once
// A label that opens a web address or a new mail message when clicked.
#include <QLabel>

#include <cstdint>
#include <functional>

enum TUrlType : uint8_t { vtWeb = 0, vtMail = 1 };

class TUrlLabel : public QLabel {
    Q_OBJECT
public:
    explicit TUrlLabel(QWidget *parent = nullptr);

    TUrlType UrlType = vtWeb;
    std::function<void(TUrlLabel *Sender)> OnClick;

    // "HTTP://" or "mailto:" followed by the caption exactly as it stands
    // (untrimmed, unencoded); a caption that begins with its own scheme
    // ("https://...", "mailto:...") is the address itself.
    QString Address() const;
    // Fires OnClick, then hands the address to the desktop's opener. A
    // failure to open shows nothing.
    void Click();

protected:
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
};
