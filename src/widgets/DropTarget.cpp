#include "widgets/DropTarget.h"

#include <QStringDecoder>

#include <QAbstractScrollArea>
#include <QApplication>
#include <QClipboard>
#include <QDragEnterEvent>
#include <QDragLeaveEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QFontInfo>
#include <QMimeData>
#include <QScrollBar>
#include <QTimer>
#include <QUrl>
#include <QWidget>

#include <cstdlib>
#include <stdexcept>

namespace {

// The widget property naming the drop target a control is registered with:
// one control takes one drop target at a time.
constexpr const char *kRegisteredProperty = "orbDropTarget";

TShiftState ShiftStateOf(Qt::KeyboardModifiers keys, Qt::MouseButtons buttons)
{
    TShiftState s = 0;
    if (keys & Qt::ShiftModifier)
        s |= ssShift;
    if (keys & Qt::AltModifier)
        s |= ssAlt;
    if (keys & Qt::ControlModifier)
        s |= ssCtrl;
    if (buttons & Qt::LeftButton)
        s |= ssLeft;
    if (buttons & Qt::RightButton)
        s |= ssRight;
    if (buttons & Qt::MiddleButton)
        s |= ssMiddle;
    return s;
}

// The part of the control that drags move over: a scroll area's viewport.
QWidget *ClientOf(QWidget *control)
{
    if (auto *area = qobject_cast<QAbstractScrollArea *>(control))
        return area->viewport();
    return control;
}

// Whether a scroll bar of the given policy and range is on show.
bool HasBar(const QScrollBar *bar, Qt::ScrollBarPolicy policy)
{
    if (!bar || policy == Qt::ScrollBarAlwaysOff)
        return false;
    return policy == Qt::ScrollBarAlwaysOn || bar->maximum() > bar->minimum();
}

std::string NameOf(const QWidget *control)
{
    return control ? control->objectName().toStdString() : std::string();
}

// The copy or cut mark that file managers leave with files on the clipboard.
uint32_t PreferredEffect(const QMimeData *data)
{
    if (!data)
        return 0;
    if (data->hasFormat(QStringLiteral("x-special/gnome-copied-files"))) {
        const QByteArray text = data->data(QStringLiteral("x-special/gnome-copied-files"));
        const QByteArray first = text.left(text.indexOf('\n') < 0 ? text.size() : text.indexOf('\n')).trimmed();
        if (first == "copy")
            return DROPEFFECT_COPY;
        if (first == "cut")
            return DROPEFFECT_MOVE;
    }
    if (data->hasFormat(QStringLiteral("application/x-kde-cutselection")))
        return data->data(QStringLiteral("application/x-kde-cutselection")).trimmed() == "1" ? DROPEFFECT_MOVE
                                                                                               : DROPEFFECT_COPY;
    return 0;
}

} // namespace

TDropTarget::TDropTarget(QObject *owner) : QObject(owner), timer_(new QTimer(this))
{
    timer_->setInterval(100);
    connect(timer_, &QTimer::timeout, this, &TDropTarget::AutoScrollStep);
}

TDropTarget::~TDropTarget()
{
    timer_->stop();
    try {
        Unregister();
    } catch (...) {
        // A control taken over by another target is simply let go.
    }
}

void TDropTarget::Register(QWidget *control)
{
    if (control == target_ && (control == nullptr || registered_))
        return;
    if (target_)
        Unregister();
    if (control) {
        const QVariant holder = control->property(kRegisteredProperty);
        QObject *other = holder.value<QObject *>();
        if (other && other != this)
            throw std::runtime_error("Failed to Register " + NameOf(control));
        control->setProperty(kRegisteredProperty, QVariant::fromValue<QObject *>(this));
        control->setAcceptDrops(true);
        control->installEventFilter(this);
        QWidget *client = ClientOf(control);
        if (client != control) {
            client->setAcceptDrops(true);
            client->installEventFilter(this);
        }
    }
    target_ = control;
    registered_ = true;
}

void TDropTarget::Unregister()
{
    registered_ = false;
    QWidget *control = target_;
    if (!control) {
        target_.clear();
        return;
    }
    if (control->property(kRegisteredProperty).value<QObject *>() != this)
        throw std::runtime_error("Failed to Unregister " + NameOf(control));
    control->setProperty(kRegisteredProperty, QVariant());
    control->removeEventFilter(this);
    control->setAcceptDrops(false);
    QWidget *client = ClientOf(control);
    if (client != control) {
        client->removeEventFilter(this);
        client->setAcceptDrops(false);
    }
    Forget();
    target_.clear();
}

void TDropTarget::Forget()
{
    timer_->stop();
    data_ = nullptr;
}

bool TDropTarget::Scrolling() const { return timer_->isActive(); }

bool TDropTarget::eventFilter(QObject *watched, QEvent *event)
{
    QWidget *control = target_;
    if (!control || (watched != control && watched != ClientOf(control)))
        return QObject::eventFilter(watched, event);
    QWidget *client = ClientOf(control);
    // Events reach the viewport of a scroll area; a scroll area's frame gets
    // them only outside it. Points are in the client's coordinates.
    auto clientPoint = [&](QPointF p) {
        const QPoint local = p.toPoint();
        return watched == client ? local : client->mapFrom(static_cast<QWidget *>(watched), local);
    };
    switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop: {
        // Enter and move events are drop events too.
        auto *e = static_cast<QDropEvent *>(event);
        uint32_t effect = static_cast<uint32_t>(e->possibleActions().toInt());
        const TShiftState shift = ShiftStateOf(e->modifiers(), e->buttons());
        const QPoint point = clientPoint(e->position());
        if (event->type() == QEvent::DragEnter)
            DragEnter(e->mimeData(), shift, point, effect);
        else if (event->type() == QEvent::DragMove)
            DragOver(shift, point, effect);
        else
            Drop(e->mimeData(), shift, point, effect);
        effect &= ~DROPEFFECT_SCROLL;
        if (effect != DROPEFFECT_NONE) {
            e->setDropAction(static_cast<Qt::DropAction>(effect & (DROPEFFECT_COPY | DROPEFFECT_MOVE | DROPEFFECT_LINK)));
            e->accept();
        } else {
            e->ignore();
        }
        return true;
    }
    case QEvent::DragLeave:
        DragLeave();
        return true;
    default:
        return QObject::eventFilter(watched, event);
    }
}

void TDropTarget::DragEnter(const QMimeData *data, TShiftState shift, QPoint point, uint32_t &effect)
{
    ClearData();
    data_ = data;
    lastPoint_ = point;
    if (!data_ || !HasValidFormats()) {
        data_ = nullptr;
        effect = DROPEFFECT_NONE;
        return;
    }
    scrollDirections_ = 0;
    QWidget *control = target_;
    scrollMargin_ = control ? std::abs(QFontInfo(control->font()).pixelSize()) : 0;
    if (auto *area = qobject_cast<QAbstractScrollArea *>(control)) {
        if (HasBar(area->horizontalScrollBar(), area->horizontalScrollBarPolicy()))
            scrollDirections_ |= sdHorizontal;
        if (HasBar(area->verticalScrollBar(), area->verticalScrollBarPolicy()))
            scrollDirections_ |= sdVertical;
    }
    if (GetDataOnEnter)
        GetData();
    effect = GetValidDropEffect(shift, point, effect);
    DoEnter(shift, point, effect);
}

void TDropTarget::DragOver(TShiftState shift, QPoint point, uint32_t &effect)
{
    bool scrolling = false;
    if (!data_) {
        effect = DROPEFFECT_NONE;
    } else {
        effect = GetValidDropEffect(shift, point, effect);
        DoDragOver(shift, point, effect);
        scrolling = scrollDirections_ != 0 && (effect & DROPEFFECT_SCROLL) != 0;
    }
    if (scrolling && !timer_->isActive())
        timer_->start();
    else if (!scrolling)
        timer_->stop();
    lastPoint_ = point;
}

void TDropTarget::DragLeave()
{
    ClearData();
    Forget();
    DoLeave();
}

void TDropTarget::Drop(const QMimeData *data, TShiftState shift, QPoint point, uint32_t &effect)
{
    if (!data_) {
        effect = DROPEFFECT_NONE;
        return;
    }
    data_ = data;
    timer_->stop();
    effect = GetValidDropEffect(shift, point, effect);
    if (!GetDataOnEnter && !GetData())
        effect = DROPEFFECT_NONE;
    else
        DoDrop(shift, point, effect);
    ClearData();
    data_ = nullptr;
}

uint32_t TDropTarget::GetValidDropEffect(TShiftState shift, QPoint point, uint32_t effect)
{
    for (uint32_t e : {DROPEFFECT_COPY, DROPEFFECT_MOVE, DROPEFFECT_LINK})
        if ((Dragtypes & e) == 0)
            effect &= ~e;
    if (OnGetDropEffect) {
        OnGetDropEffect(this, shift, point, effect);
        return effect;
    }
    const bool shiftKey = shift & ssShift;
    const bool ctrlKey = shift & ssCtrl;
    uint32_t result = DROPEFFECT_NONE;
    if (shiftKey && ctrlKey && (effect & DROPEFFECT_LINK))
        result = DROPEFFECT_LINK;
    else if (shiftKey && !ctrlKey && (effect & DROPEFFECT_MOVE))
        result = DROPEFFECT_MOVE;
    else if (effect & DROPEFFECT_COPY)
        result = DROPEFFECT_COPY;
    else if (effect & DROPEFFECT_MOVE)
        result = DROPEFFECT_MOVE;
    else if (effect & DROPEFFECT_LINK)
        result = DROPEFFECT_LINK;
    QWidget *control = target_;
    if (scrollDirections_ != 0 && control) {
        const QWidget *client = ClientOf(control);
        const int w = client->width(), h = client->height(), m = scrollMargin_;
        if ((scrollDirections_ & sdHorizontal) && (point.x() < m || point.x() > w - m))
            return result | DROPEFFECT_SCROLL;
        if ((scrollDirections_ & sdVertical) && (point.y() < m || point.y() > h - m))
            return result | DROPEFFECT_SCROLL;
    }
    return result;
}

void TDropTarget::AutoScrollStep()
{
    auto *area = qobject_cast<QAbstractScrollArea *>(target_.data());
    if (!area)
        return;
    const QWidget *client = area->viewport();
    const int m = scrollMargin_;
    if (lastPoint_.y() < m)
        area->verticalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepSub);
    else if (lastPoint_.y() > client->height() - m)
        area->verticalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    if (lastPoint_.x() < m)
        area->horizontalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepSub);
    else if (lastPoint_.x() > client->width() - m)
        area->horizontalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
}

uint32_t TDropTarget::PasteFromClipboard()
{
    return PreferredEffect(QApplication::clipboard()->mimeData());
}

void TDropTarget::DoEnter(TShiftState shift, QPoint point, uint32_t &effect)
{
    if (OnEnter)
        OnEnter(this, shift, point, effect);
}

void TDropTarget::DoDragOver(TShiftState shift, QPoint point, uint32_t &effect)
{
    if (OnDragOver)
        OnDragOver(this, shift, point, effect);
}

void TDropTarget::DoDrop(TShiftState shift, QPoint point, uint32_t &effect)
{
    if (OnDrop)
        OnDrop(this, shift, point, effect);
}

void TDropTarget::DoLeave()
{
    if (OnLeave)
        OnLeave(this);
}

// ---------------------------------------------------------------------------

TFileDropTarget::TFileDropTarget(QObject *owner) : TDropTarget(owner) {}

bool TFileDropTarget::ReadFileList(const QMimeData &data, std::vector<std::string> &files)
{
    for (const QUrl &url : data.urls()) {
        if (!url.isLocalFile())
            continue;
        const QString path = url.toLocalFile();
        if (!path.isEmpty())
            files.push_back(path.toStdString());
    }
    return !files.empty();
}

namespace {

// The format of `data` named `name`, as it stands or as a Windows format
// name carried over by a drag source ("...;value=\"name\"").
QString FormatNamed(const QMimeData &data, const QString &name)
{
    const QString carried = QStringLiteral(";value=\"") + name + QLatin1Char('"');
    for (const QString &format : data.formats())
        if (format == name || format.endsWith(carried))
            return format;
    return {};
}

} // namespace

void TFileDropTarget::ReadMappedNames(const QMimeData &data, std::vector<std::string> &names)
{
    names.clear();
    QString format = FormatNamed(data, QStringLiteral("FileNameMap"));
    const bool wide = format.isEmpty();
    if (wide)
        format = FormatNamed(data, QStringLiteral("FileNameMapW"));
    if (format.isEmpty())
        return;
    const QByteArray block = data.data(format);
    // Names follow one another, each ended by a zero; an empty one (or the
    // end of the block) ends the list. A name the block cuts short is dropped.
    const qsizetype unit = wide ? 2 : 1;
    qsizetype at = 0;
    while (at + unit <= block.size()) {
        qsizetype end = at;
        while (end + unit <= block.size() && (block[end] != 0 || (wide && block[end + 1] != 0)))
            end += unit;
        if (end + unit > block.size() || end == at)
            break;
        const QByteArray bytes = block.mid(at, end - at);
        const QString name = wide ? QStringDecoder(QStringDecoder::Utf16LE).decode(bytes)
                                  : QString::fromLocal8Bit(bytes);
        names.push_back(name.toStdString());
        at = end + unit;
    }
}

bool TFileDropTarget::GetData()
{
    ClearData();
    const QMimeData *data = DataObject();
    if (!data || !data->hasUrls())
        return false;
    ReadFileList(*data, Files);
    ReadMappedNames(*data, MappedNames);
    if (MappedNames.size() != Files.size())
        MappedNames.clear();
    return !Files.empty();
}

void TFileDropTarget::ClearData()
{
    Files.clear();
    MappedNames.clear();
}

bool TFileDropTarget::HasValidFormats()
{
    const QMimeData *data = DataObject();
    return data && data->hasFormat(QStringLiteral("text/uri-list"));
}

uint32_t TFileDropTarget::PasteFromClipboard()
{
    const QMimeData *data = QApplication::clipboard()->mimeData();
    if (!data || !data->hasUrls())
        return 0;
    Files.clear();
    if (!ReadFileList(*data, Files))
        return 0;
    const uint32_t preferred = PreferredEffect(data);
    return preferred ? preferred : DROPEFFECT_COPY;
}
