#pragma once
// A push button painted by us with a multi-state glyph, an optional caption,
// grouping, a flat look, a drop-down menu and an auto-repeat timer, and the
// glyph images it shares with every button of the same glyph size.
#include <QColor>
#include <QImage>
#include <QPointer>
#include <QWidget>

#include <array>
#include <functional>
#include <memory>
#include <vector>

#include <QMenu>
class QAction;
class QPainter;
class QTimer;

enum TExButtonState { ebsUp, ebsDisabled, ebsDown, ebsExclusive, ebsInactive };
enum TButtonLayout { blGlyphLeft, blGlyphRight, blGlyphTop, blGlyphBottom };
enum TButtonStyle { bsAutoDetect, bsWin31, bsNew };
enum TDropDownMenuPos { dmpBottom, dmpRight };
// Which part of a pop-up menu lies at the point it pops up at: its left edge,
// its right edge or its middle.
enum TPopupAlignment { paLeft, paRight, paCenter };

// A pop-up menu that knows its alignment; a plain menu opens left-aligned.
class TExPopupMenu : public QMenu {
    Q_OBJECT
public:
    using QMenu::QMenu;
    TPopupAlignment Alignment = paLeft;
};

// Images of one width and height; a slot freed by Delete is reused by the
// next Add.
class TGlyphList {
public:
    TGlyphList(int width, int height);

    int Width() const { return FWidth; }
    int Height() const { return FHeight; }
    // Slots in use.
    int Count() const { return FCount; }
    // Slots made (used or free).
    int Capacity() const { return static_cast<int>(FImages.size()); }
    // Puts the image (cut or padded to the list's size) into the lowest free
    // slot and returns its index.
    int Add(const QImage &image);
    // The same with every pixel of `maskColor` transparent.
    int AddMasked(const QImage &image, QColor maskColor);
    // Frees the slot; an index that is not a used slot changes nothing.
    void Delete(int index);
    // Null for an index that is not a used slot.
    QImage Image(int index) const;
    void Draw(QPainter &painter, int x, int y, int index) const;

private:
    int FWidth, FHeight;
    std::vector<QImage> FImages;
    std::vector<bool> FUsed;
    int FCount = 0;
};

// The lists of all glyphs, one per image size.
class TGlyphCache {
public:
    // The list for that size: the newest existing one, else a new one.
    TGlyphList *GetList(int width, int height);
    // A list whose count is 0 leaves the cache and is freed.
    void ReturnList(TGlyphList *list);
    bool Empty() const { return FLists.empty(); }
    int ListCount() const { return static_cast<int>(FLists.size()); }

private:
    std::vector<std::unique_ptr<TGlyphList>> FLists;
};

// The cache every glyph uses while any glyph object exists (nullptr when none).
TGlyphCache *GlyphCache();

class TExButtonGlyph {
public:
    TExButtonGlyph();
    ~TExButtonGlyph();
    TExButtonGlyph(const TExButtonGlyph &) = delete;
    TExButtonGlyph &operator=(const TExButtonGlyph &) = delete;

    const QImage &Glyph() const { return FOriginal; }
    // Drops the images and takes the bitmap; a width that is an exact multiple
    // of the height sets the number of glyphs (1 when that is above 5).
    void SetGlyph(const QImage &glyph);
    int NumGlyphs() const { return FNumGlyphs; }
    // A value above 0 that differs drops the images.
    void SetNumGlyphs(int value);
    QColor TransparentColor() const { return FTransparentColor; }
    void SetTransparentColor(QColor colour);
    // One image of the strip; empty when the strip is narrower than its count.
    QSize ImageSize() const;
    // The list index of the state's image, made on first use; -1 when there
    // is nothing to draw.
    int StateIndex(TExButtonState state);
    const TGlyphList *List() const { return FGlyphList; }
    // Frees the list slots of the images.
    void Invalidate();

    // Draws glyph, caption and drop-down mark into `client` for the state and
    // returns the caption's rectangle.
    QRect Draw(QPainter &painter, const QRect &client, QPoint offset, const QString &caption,
               TButtonLayout layout, int margin, int spacing, TExButtonState state, bool dropDownMark,
               bool wordWrap, Qt::Alignment alignment, bool enabled, QPoint *glyphPos = nullptr);

    std::function<void()> OnChange;

private:
    QImage SourceImage(int n) const;
    void CalcLayout(const QFontMetrics &fm, const QRect &client, QPoint offset, const QString &caption,
                    TButtonLayout layout, int margin, int spacing, bool dropDownMark, bool wordWrap,
                    QPoint &glyphPos, QRect &textRect, QString &shownCaption);

    QImage FOriginal;
    int FNumGlyphs = 1;
    QColor FTransparentColor = QColor(255, 0, 255);
    std::array<int, 5> FIndexs{-1, -1, -1, -1, -1};
    TGlyphList *FGlyphList = nullptr;
};

class TExSpeedButton : public QWidget {
    Q_OBJECT
public:
    explicit TExSpeedButton(QWidget *parent = nullptr);
    ~TExSpeedButton() override;

    Qt::Alignment Alignment = Qt::AlignHCenter;
    bool AllowTimer = false;
    int InitPause = 500;
    int RepeatInterval = 100;
    TDropDownMenuPos MenuPosition = dmpBottom;
    TButtonLayout Layout = blGlyphTop;
    int Margin = -1;
    int Spacing = 1;
    TButtonStyle Style = bsAutoDetect;
    int ModalResult = 0;

    bool AllowAllUp() const { return FAllowAllUp; }
    void SetAllowAllUp(bool value);
    int GroupIndex() const { return FGroupIndex; }
    void SetGroupIndex(int value);
    bool Down() const { return FDown; }
    void SetDown(bool value);
    QMenu *DropDownMenu() const { return FDropDownMenu; }
    void SetDropDownMenu(QMenu *menu);
    // The top-left corner, in the coordinates of a button of `buttonSize`, of a
    // drop-down menu of `menuSize` opening at the button's corner for the
    // position and the menu's alignment.
    static QPoint DropDownMenuPoint(TDropDownMenuPos position, TPopupAlignment alignment, QSize buttonSize,
                                    QSize menuSize);
    // Links the button to an action (nullptr unlinks): the button shows the
    // action's text, hint and enabled state, a grouped button's Down follows
    // the action's Checked, a button without a glyph takes the action's icon
    // on a magenta (transparent) background, and a click without an OnClick
    // triggers the action.
    QAction *Action() const { return FAction; }
    void SetAction(QAction *action);
    bool MarkDropDown() const { return FMarkDropDown; }
    void SetMarkDropDown(bool value);
    bool Flat() const { return FFlat; }
    void SetFlat(bool value);
    bool GrayedInactive() const { return FGrayedInactive; }
    void SetGrayedInactive(bool value);
    bool Transparent() const { return FTransparent; }
    void SetTransparent(bool value);
    bool WordWrap() const { return FWordWrap; }
    void SetWordWrap(bool value);
    QString Caption() const { return FCaption; }
    void SetCaption(const QString &caption);
    const QImage &Glyph() const { return FGlyph.Glyph(); }
    void SetGlyph(const QImage &glyph);
    int NumGlyphs() const { return FGlyph.NumGlyphs(); }
    void SetNumGlyphs(int value);
    TExButtonGlyph &ButtonGlyph() { return FGlyph; }

    TExButtonState State() const { return FState; }
    bool MouseInControl() const { return FMouseInControl; }
    bool TimerActive() const;

    // The parent form's modal result := ModalResult, then OnClick.
    virtual void Click();

    std::function<void(TExSpeedButton *)> OnClick;
    std::function<void(TExSpeedButton *)> OnDblClick;
    std::function<void(TExSpeedButton *)> OnMouseEnter;
    std::function<void(TExSpeedButton *)> OnMouseLeave;

    QSize sizeHint() const override { return QSize(25, 25); }

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void changeEvent(QEvent *event) override;
    void showEvent(QShowEvent *event) override;
    bool event(QEvent *event) override;

    // Bottom edge inside, right edge outside.
    bool Inside(QPoint p) const;
    virtual void PaintFrame(QPainter &painter, QRect &r, bool pushed);
    void UpdateTracking();
    bool Dragging() const { return FDragging; }

private:
    void FinishPress(QPoint pos);
    void TimerExpired();
    void UpdateExclusive();
    void DrawDropDownMark(QPainter &painter, int x, int y, bool enabled);
    void ShowDropDownMenu();
    void UpdateShortcut();
    // Takes over the action's state; with `checkDefaults` (when the link is
    // made) only what the button still has at its default.
    void ActionChange(bool checkDefaults);

    int FGroupIndex = 0;
    bool FAllowAllUp = false;
    bool FDown = false;
    QPointer<QMenu> FDropDownMenu;
    QPointer<QAction> FAction;
    QMetaObject::Connection FActionChanged;
    bool FMarkDropDown = true;
    bool FFlat = false;
    bool FGrayedInactive = true;
    bool FTransparent = false;
    bool FWordWrap = false;
    QString FCaption;
    TExButtonState FState = ebsUp;
    bool FDragging = false;
    bool FMouseInControl = false;
    bool FMenuTracking = false;
    QTimer *FRepeatTimer = nullptr;
    int FShortcutId = 0;
    TExButtonGlyph FGlyph;
};
