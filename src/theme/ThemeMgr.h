#pragma once
// The theme manager: makes the standard controls of the application's forms
// paint in the active style without changing them. Each collected control
// gets an event filter of its class's list, whose handler paints themed
// backgrounds, borders, check marks and buttons through the theme services and
// lets every other event through. One manager in the process is the main
// manager; further ones defer to it.
#include <QEvent>
#include <QObject>
#include <QPointer>
#include <QRect>
#include <QSize>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class QAbstractItemDelegate;
class QPainter;
class QWidget;
class TThemeServices;

enum TThemeOption {
    toAllowNonClientArea, toAllowControls, toAllowWebContent, toSubclassAnimate, toSubclassButtons,
    toSubclassCheckListbox, toSubclassDBLookup, toSubclassFrame, toSubclassGroupBox, toSubclassListView,
    toSubclassPanel, toSubclassTabSheet, toSubclassSpeedButtons, toSubclassStatusBar, toSubclassTrackBar,
    toSubclassWinControl, toResetMouseCapture, toSetTransparency, toAlternateTabSheetDraw
};
// A set of TThemeOption bits.
using TThemeOptions = uint32_t;
inline constexpr TThemeOptions Bit(TThemeOption o) { return TThemeOptions(1) << o; }
inline constexpr TThemeOptions DefaultThemeOptions = 0x3FFF7; // 262135

// The control classes the manager knows, in the order of its lists.
enum TControlClass {
    ccPanel, ccFrame, ccListView, ccTabSheet, ccWinControl, ccGroupBox, ccButtonControl, ccSpeedButton,
    ccTrackBar, ccAnimate, ccStatusBar, ccCheckListBox, ccForm
};
inline constexpr int ControlClassCount = 13;

// Whether a widget is of a control class, as the manager sees it.
bool IsControlOfClass(const QWidget *w, TControlClass cls);
// Top-level windows that are forms (not menus, pop-ups or tool tips).
bool IsForm(const QWidget *w);
std::vector<QWidget *> ScreenForms();

// Events of the manager's protocol.
inline constexpr QEvent::Type HandOverEvent = static_cast<QEvent::Type>(48306);    // main role is free
inline constexpr QEvent::Type SubclassQueryEvent = static_cast<QEvent::Type>(47056); // may I subclass you?
inline constexpr QEvent::Type RecreateWndEvent = static_cast<QEvent::Type>(45107);   // re-create the window

// Asked of a control before it is subclassed: a non-zero Result refuses.
class TSubclassQueryEvent : public QEvent {
public:
    TSubclassQueryEvent() : QEvent(SubclassQueryEvent) {}
    intptr_t Result = 0;
};

// The form's keyboard-cue state changes (sent to the form).
inline constexpr int UIS_SET = 1, UIS_CLEAR = 2;
inline constexpr int UISF_HIDEFOCUS = 1, UISF_HIDEACCEL = 2;
class TUIStateEvent : public QEvent {
public:
    TUIStateEvent(int action, int flags) : QEvent(Type()), Action(action), Flags(flags) {}
    static QEvent::Type Type();
    int Action;
    int Flags;
};
// Whether the form of a control hides accelerators / focus cues now.
bool HidesAccelerators(const QWidget *control);
bool HidesFocus(const QWidget *control);

class TThemeManager;
using TWindowProcHandler = bool (TThemeManager::*)(QWidget *control, QEvent *event);

// The controls of one class that a manager has subclassed: an event filter on
// each, kept sorted by address when looked up.
class TWindowProcList : public QObject {
public:
    TWindowProcList(TThemeManager *owner, TControlClass cls, TWindowProcHandler handler);
    ~TWindowProcList() override;

    // Adds an instance of the list's class not yet in it: index, or -1.
    int Add(QWidget *control);
    int Find(const QObject *control);
    // Gives the control back its own handling (and its children, for a container).
    void Remove(QObject *control);
    void Clear();
    int Count() const { return static_cast<int>(entries_.size()); }
    TControlClass ControlClass() const { return class_; }
    // Lets the control handle the event itself (the event continues).
    bool Dispatch(QWidget *control, QEvent *event);
    // Runs the control's own handling now (for "handle, then paint over it").
    bool DispatchNow(QWidget *control, QEvent *event);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    struct Entry {
        const QObject *control = nullptr;
        QPointer<QWidget> widget;
        const QMetaObject *meta = nullptr; // the class it was added as
        QMetaObject::Connection destroyed;
        QPointer<QAbstractItemDelegate> previousDelegate; // check-list boxes
        QPointer<QAbstractItemDelegate> ownDelegate; // parented to the control
    };
    void Forget(const QObject *control); // the control is gone: drop it without touching it
    void RestoreEntry(Entry &e);

    TThemeManager *owner_;
    TControlClass class_;
    TWindowProcHandler handler_;
    std::vector<Entry> entries_;
    bool needsSorting_ = false;
    const QObject *lastControl_ = nullptr;
    int lastIndex_ = -1;
};

class TThemeManager : public QObject {
    Q_OBJECT
public:
    explicit TThemeManager(QObject *owner = nullptr);
    ~TThemeManager() override;

    TThemeOptions Options() const { return options_; }
    void SetOptions(TThemeOptions value);
    bool Subordinate() const { return subordinate_; }
    static TThemeManager *MainManager();

    std::function<void(TThemeManager *Sender)> OnThemeChange;
    std::function<void(TThemeManager *Sender, QWidget *Control, QEvent *Message, bool &Handled)> OnControlMessage;
    std::function<void(TThemeManager *Sender, QWidget *Control, bool &Allow)> OnAllowSubclassing;
    using TListener = std::function<bool(QWidget *Control, QEvent *Message)>; // true: handled
    int AddListener(TListener listener);
    void RemoveListener(int id);

    void Loaded();
    // A component comes (inserting) or goes.
    void Notification(QObject *component, bool inserting);
    void CollectForms(QWidget *form = nullptr);
    void CollectControls(QWidget *parent);

    virtual void QueueHandleRecreation(QWidget *control);
    virtual bool DoAllowSubclassing(QWidget *control);
    virtual bool DoControlMessage(QWidget *control, QEvent *message);
    virtual void DoOnThemeChange();
    virtual void BecomeMainManager();
    virtual void UpdateSubclassing(QWidget *control, bool inserting);

    TWindowProcList *List(TControlClass cls) const { return lists_[cls].get(); }
    // The list holding a control, or null.
    TWindowProcList *ListOf(const QObject *control) const;
    int PendingFormCount() const { return static_cast<int>(pendingForms_.size()); }
    bool ThemingActive() const;

    // Lays a glyph and a caption out inside `client` (layout: 0 glyph left,
    // 1 right, 2 top, 3 bottom; margin or spacing -1: computed).
    struct TButtonLayout {
        QRect Glyph;
        QRect Caption;
    };
    static TButtonLayout CalcButtonLayout(const QRect &client, QSize glyph, QSize caption, int layout, int margin,
                                          int spacing, bool rightToLeft, QPoint offset = QPoint());
    // Which image of a glyph strip of `numGlyphs` a button shows.
    static int GlyphIndex(int numGlyphs, bool enabled, bool pressedOrDown, bool exclusive);
    // The themed button painter: state 2 normal, 3 hot, 4 pressed, 5 disabled, 6 default.
    void PaintThemedButton(QWidget *control, int state, bool focused, const QRect &rect, QPainter &dc);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override; // the application hook

private:
    friend class TWindowProcList;
    void SyncAppProperties();
    void RunPending();
    void ApplyTransparencyFixes(QWidget *form);
    void TransparencyFixes(QWidget *formOrNull);
    void RemoveEverywhere(const QObject *control);
    void ForgetPending(const QObject *control);
    void ChildrenChanged(QWidget *control, QEvent *event);
    void PostWake();
    void RepaintCollected();
    void ApplyUIState(QWidget *form, int action, int flags);
    void PaintParentBackground(QWidget *control, QPainter &dc, const QRect *rect = nullptr);
    TThemeServices *Services() const;

    // The per-class handlers: true when the event is finished.
    bool AnimateWindowProc(QWidget *control, QEvent *event);
    bool ButtonControlWindowProc(QWidget *control, QEvent *event);
    bool CheckListBoxWindowProc(QWidget *control, QEvent *event);
    bool FormWindowProc(QWidget *control, QEvent *event);
    bool FrameWindowProc(QWidget *control, QEvent *event);
    bool GroupBoxWindowProc(QWidget *control, QEvent *event);
    bool ListViewWindowProc(QWidget *control, QEvent *event);
    bool PanelWindowProc(QWidget *control, QEvent *event);
    bool SpeedButtonWindowProc(QWidget *control, QEvent *event);
    bool StatusBarWindowProc(QWidget *control, QEvent *event);
    bool TabSheetWindowProc(QWidget *control, QEvent *event);
    bool TrackBarWindowProc(QWidget *control, QEvent *event);
    bool WinControlWindowProc(QWidget *control, QEvent *event);
    void KeyboardCues(QWidget *control, QEvent *event);
    void PaintGroupBox(QWidget *control, QPainter &dc);
    void PaintPanelFace(QWidget *control, QPainter &dc);
    QAbstractItemDelegate *MakeCheckListDelegate(QWidget *list);

    TThemeOptions options_ = DefaultThemeOptions;
    std::unique_ptr<TWindowProcList> lists_[ControlClassCount];
    std::vector<std::pair<int, TListener>> listeners_;
    int nextListener_ = 1;
    std::vector<QPointer<QWidget>> pendingForms_;
    std::vector<QPointer<QWidget>> pendingHandles_;
    bool subordinate_ = false;
    bool wakePosted_ = false;
};

// The manager's wake-up event, posted to the application so its hook runs soon.
QEvent::Type ThemeManagerWakeEvent();
