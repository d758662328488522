// The theme manager: collecting, subclassing and the main-manager rules.
#include "theme/ThemeMgr.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAbstractScrollArea>
#include <QApplication>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QListView>
#include <QListWidget>
#include <QMovie>
#include <QSlider>
#include <QStackedWidget>
#include <QStatusBar>
#include <QStyle>
#include <QTabWidget>
#include <QToolBar>
#include <QToolButton>
#include <QTreeView>

#include <algorithm>
#include <mutex>

#include "theme/ThemeSrv.h"

namespace {

std::mutex &MainLock()
{
    static std::mutex m;
    return m;
}

TThemeManager *&MainRef()
{
    static TThemeManager *main = nullptr;
    return main;
}

bool IsViewport(const QWidget *w)
{
    auto *area = qobject_cast<const QAbstractScrollArea *>(w->parentWidget());
    return area && area->viewport() == w;
}

} // namespace

QEvent::Type ThemeManagerWakeEvent()
{
    static const QEvent::Type type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

QEvent::Type TUIStateEvent::Type()
{
    static const QEvent::Type type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

bool IsForm(const QWidget *w)
{
    if (!w || !w->isWindow())
        return false;
    switch (w->windowType()) {
    case Qt::Window:
    case Qt::Dialog:
    case Qt::Sheet:
    case Qt::Drawer:
    case Qt::Tool:
    case Qt::SplashScreen:
        return true;
    default:
        return false;
    }
}

std::vector<QWidget *> ScreenForms()
{
    std::vector<QWidget *> forms;
    for (QWidget *w : QApplication::topLevelWidgets())
        if (IsForm(w))
            forms.push_back(w);
    return forms;
}

bool IsControlOfClass(const QWidget *w, TControlClass cls)
{
    if (!w)
        return false;
    if (cls == ccForm)
        return IsForm(w);
    if (w->isWindow())
        return false;
    switch (cls) {
    case ccButtonControl:
        return qobject_cast<const QAbstractButton *>(w) && !qobject_cast<const QToolButton *>(w);
    case ccSpeedButton:
        return qobject_cast<const QToolButton *>(w) && !qobject_cast<const QToolBar *>(w->parentWidget());
    case ccGroupBox:
        return qobject_cast<const QGroupBox *>(w);
    case ccTabSheet: {
        const QWidget *stack = w->parentWidget();
        return qobject_cast<const QStackedWidget *>(stack) && stack &&
               qobject_cast<const QTabWidget *>(stack->parentWidget());
    }
    case ccPanel: {
        if (w->metaObject() != &QFrame::staticMetaObject)
            return false;
        const QFrame::Shape shape = static_cast<const QFrame *>(w)->frameShape();
        return shape != QFrame::HLine && shape != QFrame::VLine;
    }
    case ccFrame:
        return w->metaObject() == &QWidget::staticMetaObject && !IsViewport(w);
    case ccListView: {
        if (qobject_cast<const QListWidget *>(w))
            return false;
        if (qobject_cast<const QListView *>(w))
            return true;
        auto *tree = qobject_cast<const QTreeView *>(w);
        return tree && !tree->rootIsDecorated();
    }
    case ccTrackBar:
        return qobject_cast<const QSlider *>(w);
    case ccCheckListBox:
        return qobject_cast<const QListWidget *>(w);
    case ccStatusBar:
        return qobject_cast<const QStatusBar *>(w);
    case ccAnimate: {
        auto *label = qobject_cast<const QLabel *>(w);
        return label && label->movie();
    }
    case ccWinControl:
        return true;
    case ccForm:
        break;
    }
    return false;
}

bool HidesAccelerators(const QWidget *control)
{
    const QWidget *form = control ? control->window() : nullptr;
    if (!form)
        return false;
    const QVariant shown = form->property("UIStateShowAccel");
    if (shown.isValid())
        return !shown.toBool();
    return !form->style()->styleHint(QStyle::SH_UnderlineShortcut, nullptr, form);
}

bool HidesFocus(const QWidget *control)
{
    const QWidget *form = control ? control->window() : nullptr;
    return form && !form->testAttribute(Qt::WA_KeyboardFocusChange);
}

// ---- TWindowProcList

TWindowProcList::TWindowProcList(TThemeManager *owner, TControlClass cls, TWindowProcHandler handler)
    : owner_(owner), class_(cls), handler_(handler)
{
}

TWindowProcList::~TWindowProcList()
{
    Clear();
}

int TWindowProcList::Add(QWidget *control)
{
    if (!IsControlOfClass(control, class_) || Find(control) >= 0)
        return -1;
    Entry e;
    e.control = control;
    e.widget = control;
    e.meta = control->metaObject();
    const QObject *key = control;
    e.destroyed = QObject::connect(control, &QObject::destroyed, this, [this, key] { Forget(key); });
    if (class_ == ccCheckListBox) {
        auto *view = static_cast<QAbstractItemView *>(control);
        e.previousDelegate = view->itemDelegate();
        e.ownDelegate = owner_->MakeCheckListDelegate(control);
        view->setItemDelegate(e.ownDelegate);
    }
    control->installEventFilter(this);
    entries_.push_back(std::move(e));
    needsSorting_ = true;
    lastControl_ = nullptr;
    lastIndex_ = -1;
    control->update();
    return static_cast<int>(entries_.size()) - 1;
}

int TWindowProcList::Find(const QObject *control)
{
    if (!control)
        return -1;
    if (control == lastControl_ && lastIndex_ >= 0 && lastIndex_ < Count() && entries_[lastIndex_].control == control)
        return lastIndex_;
    if (needsSorting_ && entries_.size() >= 2)
        std::sort(entries_.begin(), entries_.end(),
                  [](const Entry &a, const Entry &b) { return std::less<const QObject *>()(a.control, b.control); });
    needsSorting_ = false;
    auto it = std::lower_bound(entries_.begin(), entries_.end(), control, [](const Entry &e, const QObject *c) {
        return std::less<const QObject *>()(e.control, c);
    });
    if (it == entries_.end() || it->control != control)
        return -1;
    lastControl_ = control;
    lastIndex_ = static_cast<int>(it - entries_.begin());
    return lastIndex_;
}

void TWindowProcList::RestoreEntry(Entry &e)
{
    QObject::disconnect(e.destroyed);
    if (QWidget *w = e.widget) {
        w->removeEventFilter(this);
        if (class_ == ccCheckListBox) {
            auto *view = static_cast<QAbstractItemView *>(w);
            if (view->itemDelegate() == e.ownDelegate)
                view->setItemDelegate(e.previousDelegate);
        }
        w->update();
    }
    delete e.ownDelegate.data();
    e.ownDelegate.clear();
}

void TWindowProcList::Remove(QObject *control)
{
    const int index = Find(control);
    if (index < 0)
        return;
    Entry e = std::move(entries_[index]);
    entries_.erase(entries_.begin() + index);
    if (lastIndex_ >= index) {
        lastControl_ = nullptr;
        lastIndex_ = -1;
    }
    QWidget *w = e.widget;
    RestoreEntry(e);
    owner_->ForgetPending(control);
    // A container's controls go with it.
    if (w)
        for (QWidget *child : w->findChildren<QWidget *>())
            owner_->RemoveEverywhere(child);
}

void TWindowProcList::Forget(const QObject *control)
{
    const int index = Find(control);
    if (index >= 0) {
        Entry &e = entries_[index];
        QObject::disconnect(e.destroyed);
        // Our delegate is the control's child: gone with it, or freed here.
        delete e.ownDelegate.data();
        entries_.erase(entries_.begin() + index);
        lastControl_ = nullptr;
        lastIndex_ = -1;
    }
    owner_->ForgetPending(control);
}

void TWindowProcList::Clear()
{
    std::vector<Entry> entries = std::move(entries_);
    entries_.clear();
    lastControl_ = nullptr;
    lastIndex_ = -1;
    for (Entry &e : entries) {
        owner_->ForgetPending(e.control);
        RestoreEntry(e);
    }
}

bool TWindowProcList::Dispatch(QWidget *control, QEvent *event)
{
    if (event->type() == RecreateWndEvent) {
        if (TThemeManager::MainManager())
            TThemeManager::MainManager()->QueueHandleRecreation(control);
    }
    return false;
}

bool TWindowProcList::DispatchNow(QWidget *control, QEvent *event)
{
    Dispatch(control, event);
    static_cast<QObject *>(control)->event(event);
    return true;
}

bool TWindowProcList::eventFilter(QObject *watched, QEvent *event)
{
    const int index = Find(watched);
    if (index < 0)
        return false;
    QWidget *control = entries_[index].widget;
    // A control whose class no longer answers is being destroyed: hands off.
    if (!control || control->metaObject() != entries_[index].meta)
        return false;
    owner_->ChildrenChanged(control, event);
    // The manager's listeners see every message before the class handler; one
    // they handle goes no further.
    if (owner_->DoControlMessage(control, event) || (owner_->*handler_)(control, event))
        return true;
    return Dispatch(control, event);
}

// ---- TThemeManager

TThemeManager::TThemeManager(QObject *owner) : QObject(owner)
{
    const TWindowProcHandler handlers[ControlClassCount] = {
        &TThemeManager::PanelWindowProc,      &TThemeManager::FrameWindowProc,
        &TThemeManager::ListViewWindowProc,   &TThemeManager::TabSheetWindowProc,
        &TThemeManager::WinControlWindowProc, &TThemeManager::GroupBoxWindowProc,
        &TThemeManager::ButtonControlWindowProc, &TThemeManager::SpeedButtonWindowProc,
        &TThemeManager::TrackBarWindowProc,   &TThemeManager::AnimateWindowProc,
        &TThemeManager::StatusBarWindowProc,  &TThemeManager::CheckListBoxWindowProc,
        &TThemeManager::FormWindowProc};
    for (int i = 0; i < ControlClassCount; ++i)
        lists_[i] = std::make_unique<TWindowProcList>(this, static_cast<TControlClass>(i), handlers[i]);
    if (QCoreApplication::instance())
        QCoreApplication::instance()->installEventFilter(this);
    ThemeServices();
    std::lock_guard<std::mutex> guard(MainLock());
    if (TThemeManager *main = MainRef()) {
        subordinate_ = true;
        options_ = main->options_;
    } else {
        MainRef() = this;
    }
}

TThemeManager::~TThemeManager()
{
    for (auto &list : lists_)
        list->Clear();
    if (QCoreApplication::instance())
        QCoreApplication::instance()->removeEventFilter(this);
    bool handOver = false;
    {
        std::lock_guard<std::mutex> guard(MainLock());
        if (MainRef() == this) {
            MainRef() = nullptr;
            handOver = true;
        }
    }
    if (handOver && QCoreApplication::instance())
        QCoreApplication::postEvent(QCoreApplication::instance(), new QEvent(HandOverEvent));
}

TThemeManager *TThemeManager::MainManager()
{
    std::lock_guard<std::mutex> guard(MainLock());
    return MainRef();
}

TThemeServices *TThemeManager::Services() const
{
    return ThemeServices();
}

bool TThemeManager::ThemingActive() const
{
    TThemeServices *s = Services();
    return s && s->ThemingActive();
}

int TThemeManager::AddListener(TListener listener)
{
    listeners_.emplace_back(nextListener_, std::move(listener));
    return nextListener_++;
}

void TThemeManager::RemoveListener(int id)
{
    listeners_.erase(std::remove_if(listeners_.begin(), listeners_.end(),
                                    [id](const auto &l) { return l.first == id; }),
                     listeners_.end());
}

void TThemeManager::SetOptions(TThemeOptions value)
{
    TThemeManager *target = this;
    {
        std::lock_guard<std::mutex> guard(MainLock());
        if (subordinate_ && MainRef() && MainRef() != this)
            target = MainRef();
    }
    if (target != this) {
        target->SetOptions(value);
        return;
    }
    if (value == options_)
        return;
    options_ = value;
    TThemeServices *services = Services();
    if (!services || !services->LibraryLoaded || subordinate_)
        return;
    unsigned flags = 0;
    if (value & Bit(toAllowNonClientArea))
        flags |= STAP_ALLOW_NONCLIENT;
    if (value & Bit(toAllowControls))
        flags |= STAP_ALLOW_CONTROLS;
    if (value & Bit(toAllowWebContent))
        flags |= STAP_ALLOW_WEBCONTENT;
    SetThemeAppProperties(flags);
    SyncAppProperties();
    // Every control takes the change: list views are re-made, the rest repaint;
    // then the application hears of the change and every form is redrawn.
    for (QWidget *form : ScreenForms()) {
        for (QWidget *w : form->findChildren<QWidget *>())
            if (IsControlOfClass(w, ccListView))
                QueueHandleRecreation(w);
    }
    if (QCoreApplication::instance()) {
        QEvent change(TThemeServices::ThemeChangedEvent());
        QCoreApplication::sendEvent(QCoreApplication::instance(), &change);
    }
    for (QWidget *form : ScreenForms()) {
        form->update();
        for (QWidget *w : form->findChildren<QWidget *>())
            w->update();
    }
}

void TThemeManager::SyncAppProperties()
{
    TThemeServices *services = Services();
    if (!services)
        return;
    services->ReloadThemeState();
    if (services->LibraryLoaded && GetThemeAppProperties) {
        const unsigned flags = GetThemeAppProperties();
        options_ &= ~(Bit(toAllowNonClientArea) | Bit(toAllowControls) | Bit(toAllowWebContent));
        if (flags & STAP_ALLOW_NONCLIENT)
            options_ |= Bit(toAllowNonClientArea);
        if (flags & STAP_ALLOW_CONTROLS)
            options_ |= Bit(toAllowControls);
        if (flags & STAP_ALLOW_WEBCONTENT)
            options_ |= Bit(toAllowWebContent);
    }
}

void TThemeManager::Loaded()
{
    if (!subordinate_)
        CollectForms(nullptr);
}

void TThemeManager::Notification(QObject *component, bool inserting)
{
    if (!component || !component->isWidgetType())
        return;
    auto *w = static_cast<QWidget *>(component);
    if (inserting) {
        if (!IsForm(w))
            return;
        for (const auto &p : pendingForms_)
            if (p == w)
                return;
        if (subordinate_) {
            if (TThemeManager *main = MainManager(); main && main != this)
                main->Notification(component, true);
            return;
        }
        pendingForms_.emplace_back(w);
        PostWake();
    } else if (!subordinate_) {
        ForgetPending(w);
        UpdateSubclassing(w, false);
    }
}

void TThemeManager::CollectForms(QWidget *form)
{
    if (subordinate_)
        return;
    // Each form is subclassed and its controls collected (a form the manager
    // may not subclass still has controls that it may).
    auto collect = [this](QWidget *f) {
        UpdateSubclassing(f, true);
        if (!ListOf(f))
            CollectControls(f);
    };
    if (form) {
        collect(form);
    } else {
        for (auto &list : lists_)
            list->Clear();
        for (QWidget *f : ScreenForms())
            collect(f);
    }
    if (options_ & (Bit(toResetMouseCapture) | Bit(toSetTransparency)))
        TransparencyFixes(form);
}

void TThemeManager::CollectControls(QWidget *parent)
{
    Q_ASSERT_X(parent, "ThemeMgr", "Parent of controls to be collected must be valid.");
    if (!parent || subordinate_)
        return;
    for (QObject *child : parent->children()) {
        if (!child->isWidgetType())
            continue;
        auto *w = static_cast<QWidget *>(child);
        if (w->isWindow())
            continue;
        UpdateSubclassing(w, true);
        if (!w->children().isEmpty())
            CollectControls(w);
    }
}

void TThemeManager::QueueHandleRecreation(QWidget *control)
{
    for (const auto &p : pendingHandles_)
        if (p == control)
            return;
    pendingHandles_.emplace_back(control);
    PostWake();
}

bool TThemeManager::DoAllowSubclassing(QWidget *control)
{
    bool allow = true;
    if (OnAllowSubclassing)
        OnAllowSubclassing(this, control, allow);
    return allow;
}

bool TThemeManager::DoControlMessage(QWidget *control, QEvent *message)
{
    bool handled = false;
    if (OnControlMessage)
        OnControlMessage(this, control, message, handled);
    for (std::size_t i = 0; !handled && i < listeners_.size(); ++i)
        handled = listeners_[i].second(control, message);
    return handled;
}

void TThemeManager::DoOnThemeChange()
{
    if (OnThemeChange)
        OnThemeChange(this);
}

void TThemeManager::BecomeMainManager()
{
    TThemeManager *old = nullptr;
    {
        std::lock_guard<std::mutex> guard(MainLock());
        old = MainRef();
        MainRef() = this;
        subordinate_ = false;
    }
    if (old && old != this) {
        old->subordinate_ = true;
        for (auto &list : old->lists_)
            list->Clear();
        old->pendingForms_.clear();
    }
    CollectForms(nullptr);
}

void TThemeManager::UpdateSubclassing(QWidget *control, bool inserting)
{
    if (!control)
        return;
    if (!inserting) {
        RemoveEverywhere(control);
        return;
    }
    TThemeServices *services = Services();
    const bool libraryLoaded = services && services->LibraryLoaded;
    auto on = [this](TThemeOption o) { return (options_ & Bit(o)) != 0; };
    TWindowProcList *list = nullptr;
    if (!libraryLoaded) {
        if (on(toSubclassListView) && IsControlOfClass(control, ccListView))
            list = List(ccListView);
    } else {
        struct Choice {
            TControlClass cls;
            int option; // -1: always
        };
        static const Choice order[] = {
            {ccButtonControl, toSubclassButtons}, {ccSpeedButton, toSubclassSpeedButtons},
            {ccGroupBox, toSubclassGroupBox},     {ccTabSheet, toSubclassTabSheet},
            {ccPanel, toSubclassPanel},           {ccFrame, toSubclassFrame},
            {ccListView, toSubclassListView},     {ccTrackBar, toSubclassTrackBar},
            {ccCheckListBox, toSubclassCheckListbox}, {ccStatusBar, toSubclassStatusBar},
            {ccAnimate, toSubclassAnimate},       {ccForm, -1},
            {ccWinControl, toSubclassWinControl}};
        for (const Choice &c : order) {
            if ((c.option < 0 || on(static_cast<TThemeOption>(c.option))) && IsControlOfClass(control, c.cls)) {
                list = List(c.cls);
                break;
            }
        }
    }
    if (!list) {
        RemoveEverywhere(control);
        return;
    }
    bool allowed = DoAllowSubclassing(control);
    if (allowed) {
        TSubclassQueryEvent query;
        QCoreApplication::sendEvent(control, &query);
        allowed = query.Result == 0;
    }
    if (!allowed) {
        RemoveEverywhere(control);
        return;
    }
    // A control is in one list only; one that changes lists takes its
    // controls along (leaving the old list gave them back).
    bool moved = false;
    for (auto &other : lists_) {
        if (other.get() != list && other->Find(control) >= 0) {
            other->Remove(control);
            moved = true;
        }
    }
    const bool wasThere = list->Find(control) >= 0;
    list->Add(control);
    if (moved && list->ControlClass() != ccFrame && list->ControlClass() != ccForm)
        CollectControls(control);
    switch (list->ControlClass()) {
    case ccListView:
        // A list view that has its window already is made again under the new handling.
        if (!wasThere && control->testAttribute(Qt::WA_WState_Created))
            QCoreApplication::postEvent(control, new QEvent(RecreateWndEvent));
        break;
    case ccFrame:
        CollectControls(control);
        break;
    case ccForm:
        CollectControls(control);
        ForgetPending(control);
        break;
    default:
        break;
    }
}

TWindowProcList *TThemeManager::ListOf(const QObject *control) const
{
    for (const auto &list : lists_)
        if (list->Find(control) >= 0)
            return list.get();
    return nullptr;
}

void TThemeManager::RemoveEverywhere(const QObject *control)
{
    for (auto &list : lists_)
        list->Remove(const_cast<QObject *>(control));
}

void TThemeManager::ForgetPending(const QObject *control)
{
    auto drop = [control](std::vector<QPointer<QWidget>> &v) {
        v.erase(std::remove_if(v.begin(), v.end(),
                               [control](const QPointer<QWidget> &p) { return p.isNull() || p.data() == control; }),
                v.end());
    };
    drop(pendingForms_);
    drop(pendingHandles_);
}

void TThemeManager::ChildrenChanged(QWidget *control, QEvent *event)
{
    // Controls put into a collected control later are collected once they are
    // complete (polished); controls taken out are given back.
    if (subordinate_)
        return;
    if (event->type() == QEvent::ChildPolished) {
        QObject *child = static_cast<QChildEvent *>(event)->child();
        if (child && child->isWidgetType() && !static_cast<QWidget *>(child)->isWindow() && !ListOf(child)) {
            auto *w = static_cast<QWidget *>(child);
            UpdateSubclassing(w, true);
            CollectControls(w);
        }
    } else if (event->type() == QEvent::ChildRemoved) {
        QObject *child = static_cast<QChildEvent *>(event)->child();
        if (child)
            RemoveEverywhere(child);
    }
    (void)control;
}

void TThemeManager::PostWake()
{
    if (wakePosted_ || !QCoreApplication::instance())
        return;
    wakePosted_ = true;
    QCoreApplication::postEvent(QCoreApplication::instance(), new QEvent(ThemeManagerWakeEvent()));
}

void TThemeManager::RunPending()
{
    while (!pendingForms_.empty()) {
        QPointer<QWidget> form = pendingForms_.front();
        pendingForms_.erase(pendingForms_.begin());
        if (!form)
            continue;
        UpdateSubclassing(form, true);
        if (!subordinate_ && !ListOf(form))
            CollectControls(form);
        if (options_ & (Bit(toResetMouseCapture) | Bit(toSetTransparency)))
            TransparencyFixes(form);
        form->update();
        for (QWidget *w : form->findChildren<QWidget *>())
            w->update();
    }
    while (!pendingHandles_.empty()) {
        QPointer<QWidget> control = pendingHandles_.front();
        pendingHandles_.erase(pendingHandles_.begin());
        if (!control)
            continue;
        // The window is made again: the style dresses the control anew.
        QStyle *style = control->style();
        style->unpolish(control);
        style->polish(control);
        control->update();
    }
}

void TThemeManager::RepaintCollected()
{
    for (QWidget *form : ScreenForms()) {
        if (!ListOf(form))
            continue;
        form->update();
        for (QWidget *w : form->findChildren<QWidget *>())
            if (ListOf(w))
                w->update();
    }
}

bool TThemeManager::eventFilter(QObject *watched, QEvent *event)
{
    QObject *app = QCoreApplication::instance();
    if (watched == app) {
        const QEvent::Type type = event->type();
        if (type == HandOverEvent) {
            bool take = false;
            {
                std::lock_guard<std::mutex> guard(MainLock());
                if (!MainRef()) {
                    MainRef() = this;
                    subordinate_ = false;
                    take = true;
                }
            }
            if (take)
                CollectForms(nullptr);
        }
        if (type == ThemeManagerWakeEvent())
            wakePosted_ = false;
        RunPending();
        if (type == TThemeServices::ThemeChangedEvent()) {
            SyncAppProperties();
            DoOnThemeChange();
            if (!subordinate_)
                RepaintCollected();
        }
        return false;
    }
    // A new form announces itself when it is first dressed for showing.
    if (event->type() == QEvent::Polish && !subordinate_ && watched->isWidgetType()) {
        auto *w = static_cast<QWidget *>(watched);
        if (IsForm(w) && !ListOf(w))
            Notification(w, true);
    }
    return false;
}
