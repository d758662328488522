#pragma once
// Drop targets: one widget of the application takes drops from the desktop's
// file managers (and from the program's own drags). TDropTarget decides the
// drop effect from the allowed drag types and the modifier keys, scrolls the
// target while the pointer rests near an edge, and fires the events;
// TFileDropTarget accepts file lists (text/uri-list) and reads the dropped
// file names.
#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class QEvent;
class QMimeData;
class QTimer;
class QWidget;

// Drop effects. Copy, move and link have the values of Qt's drop actions.
inline constexpr uint32_t DROPEFFECT_NONE = 0;
inline constexpr uint32_t DROPEFFECT_COPY = 1;
inline constexpr uint32_t DROPEFFECT_MOVE = 2;
inline constexpr uint32_t DROPEFFECT_LINK = 4;
inline constexpr uint32_t DROPEFFECT_SCROLL = 0x80000000u;

enum TDragType : uint8_t { dtCopy = 1, dtMove = 2, dtLink = 4 };
// A set of TDragType values (their bits or-ed together).
using TDragTypes = uint8_t;

// Shift state of a drag: the modifier keys and the mouse buttons held.
enum TShiftStateFlag : uint16_t {
    ssShift = 1, ssAlt = 2, ssCtrl = 4, ssLeft = 8, ssRight = 16, ssMiddle = 32
};
using TShiftState = uint16_t;

class TDropTarget;
using TDropTargetEvent =
    std::function<void(TDropTarget *Sender, TShiftState ShiftState, QPoint Point, uint32_t &Effect)>;

class TDropTarget : public QObject {
    Q_OBJECT
public:
    explicit TDropTarget(QObject *owner = nullptr);
    ~TDropTarget() override;

    TDragTypes Dragtypes = 0;
    bool GetDataOnEnter = false;
    TDropTargetEvent OnEnter;
    TDropTargetEvent OnDragOver;
    std::function<void(TDropTarget *Sender)> OnLeave;
    TDropTargetEvent OnDrop;
    // When set, chooses the drop effect in place of the default rule.
    TDropTargetEvent OnGetDropEffect;

    // The desktop draws the drag image itself; the setting is kept for callers.
    bool ShowImage() const { return showImage_; }
    void SetShowImage(bool value) { showImage_ = value; }

    // Makes `control` the target (nothing when it is already). A current
    // target is unregistered first. Raises std::runtime_error
    // "Failed to Register <name>" when another drop target holds the control.
    void Register(QWidget *control);
    // Lets go of the target. Raises "Failed to Unregister <name>" when the
    // control is no longer registered with this drop target.
    void Unregister();
    QWidget *Target() const { return target_; }
    bool Registered() const { return registered_; }

    // The effect for a drag offering `effect` with the given keys at `point`
    // (client coordinates of the target).
    uint32_t GetValidDropEffect(TShiftState shift, QPoint point, uint32_t effect);
    // The effect a paste of the clipboard's contents would have: the copy or
    // cut mark a file manager left there, 0 when there is none.
    virtual uint32_t PasteFromClipboard();

    // Is the auto-scroll timer running (tests and the scroll step read it).
    bool Scrolling() const;
    // One auto-scroll step, as each timer tick runs it.
    void AutoScrollStep();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

    virtual void DoEnter(TShiftState shift, QPoint point, uint32_t &effect);
    virtual void DoDragOver(TShiftState shift, QPoint point, uint32_t &effect);
    virtual void DoDrop(TShiftState shift, QPoint point, uint32_t &effect);
    virtual void DoLeave();
    virtual bool GetData() = 0;
    virtual void ClearData() = 0;
    virtual bool HasValidFormats() = 0;

    // The data of the drag in progress, or null.
    const QMimeData *DataObject() const { return data_; }

private:
    enum ScrollDirection : uint8_t { sdHorizontal = 1, sdVertical = 2 };
    void DragEnter(const QMimeData *data, TShiftState shift, QPoint point, uint32_t &effect);
    void DragOver(TShiftState shift, QPoint point, uint32_t &effect);
    void DragLeave();
    void Drop(const QMimeData *data, TShiftState shift, QPoint point, uint32_t &effect);
    void Forget();

    const QMimeData *data_ = nullptr;
    QPointer<QWidget> target_;
    bool registered_ = false;
    bool showImage_ = true;
    QPoint lastPoint_;
    int scrollMargin_ = 0;
    uint8_t scrollDirections_ = 0;
    QTimer *timer_;
};

class TFileDropTarget : public TDropTarget {
    Q_OBJECT
public:
    explicit TFileDropTarget(QObject *owner = nullptr);

    // The dropped files' local paths, in the order of the drop.
    std::vector<std::string> Files;
    // Names the source maps the files to ("FileNameMap", or "FileNameMapW" in
    // UTF-16, each a list of zero-terminated names ended by an empty one);
    // empty when the drag carries none or they do not match Files one to one.
    std::vector<std::string> MappedNames;

    uint32_t PasteFromClipboard() override;

    // Reads local file names from `data` (its URL list) into `files`; true
    // when at least one was read. URLs that are not local files are skipped.
    static bool ReadFileList(const QMimeData &data, std::vector<std::string> &files);
    // Reads the mapped names of `data` into `names` (nothing when it has none).
    static void ReadMappedNames(const QMimeData &data, std::vector<std::string> &names);

protected:
    bool GetData() override;
    void ClearData() override;
    bool HasValidFormats() override;
};
