#pragma once
// Theme services: the one object through which the theme manager draws in the
// active style. It knows whether themes can be used, keeps one open theme per
// element class, maps the manager's element details to the schema's parts and
// states, wraps the library's drawing calls and follows theme changes.
#include <QEvent>
#include <QObject>
#include <QPointer>
#include <QRect>
#include <QString>

#include <array>
#include <functional>

#include "theme/TmSchema.h"
#include "theme/UxTheme.h"

class QPainter;
class QWidget;

struct ThemeElementDetails {
    int Element = 0; // element class index (TThemedElement)
    int Part = 0;
    int State = 0;
    bool operator==(const ThemeElementDetails &o) const
    {
        return Element == o.Element && Part == o.Part && State == o.State;
    }
};

// Detail values of the classes the manager draws; values 0 and 1 of each
// stand for no particular part.
enum TThemedButton {
    tbButtonDontCare, tbButtonRoot,
    tbPushButtonNormal, tbPushButtonHot, tbPushButtonPressed, tbPushButtonDisabled, tbPushButtonDefaulted,
    tbRadioButtonUncheckedNormal, tbRadioButtonUncheckedHot, tbRadioButtonUncheckedPressed,
    tbRadioButtonUncheckedDisabled, tbRadioButtonCheckedNormal, tbRadioButtonCheckedHot,
    tbRadioButtonCheckedPressed, tbRadioButtonCheckedDisabled,
    tbCheckBoxUncheckedNormal, tbCheckBoxUncheckedHot, tbCheckBoxUncheckedPressed, tbCheckBoxUncheckedDisabled,
    tbCheckBoxCheckedNormal, tbCheckBoxCheckedHot, tbCheckBoxCheckedPressed, tbCheckBoxCheckedDisabled,
    tbCheckBoxMixedNormal, tbCheckBoxMixedHot, tbCheckBoxMixedPressed, tbCheckBoxMixedDisabled,
    tbGroupBoxNormal, tbGroupBoxDisabled, tbUserButton
};
enum TThemedEdit { teEditDontCare, teEditRoot, teEditTextNormal = 2, teEditCaret = 9 };
enum TThemedRebar { trRebarDontCare, trRebarRoot, trGripper, trGripperVert, trBandNormal = 4 };
enum TThemedStatus { tsStatusDontCare, tsStatusRoot, tsPane, tsGripperPane, tsGripper };
enum TThemedTab { ttTabDontCare, ttTabRoot, ttTabItemNormal = 2, ttPane = 42, ttBody = 43 };
enum TThemedToolBar {
    ttbToolBarDontCare, ttbToolBarRoot, ttbButtonNormal, ttbButtonHot, ttbButtonPressed, ttbButtonDisabled,
    ttbButtonChecked, ttbButtonCheckedHot
};
enum TThemedTrackBar { ttbTrackBarDontCare, ttbTrackBarRoot, ttbTrack, ttbTrackVert, ttbThumbNormal = 4 };

// Element detail mappers: a detail value of a class to its part and state.
ThemeElementDetails ButtonDetails(int value);
ThemeElementDetails EditDetails(int value);
ThemeElementDetails RebarDetails(int value);
ThemeElementDetails StatusDetails(int value);
ThemeElementDetails TabDetails(int value);
ThemeElementDetails ToolBarDetails(int value);
ThemeElementDetails TrackBarDetails(int value);

class TThemeServices : public QObject {
    Q_OBJECT
public:
    // Watches `window` (the application object when null is not asked for).
    explicit TThemeServices(QObject *window);
    ~TThemeServices() override;

    bool LibraryLoaded = false;
    bool UsingThemes = false;
    bool ControlsThemed = false;
    // Called when the theme has changed.
    std::function<void()> OnThemeChange;

    bool ThemingActive() const { return LibraryLoaded && UsingThemes && ControlsThemed; }
    // The open theme of an element class, opened on first use; null while
    // themes are off.
    HTHEME ThemeHandle(int element);
    HTHEME OpenHandle(int element) const { return handles_[element]; }
    void CloseThemeHandles();
    void ReloadThemeState();
    // The style that draws an element class (null while themes are off).
    QStyle *Style(int element = teButton);

    void PaintBackground(QPainter &dc, const QWidget *widget, const ThemeElementDetails &details, const QRect &rect,
                         const QRect *clip = nullptr);
    void PaintEdge(QPainter &dc, const QWidget *widget, const ThemeElementDetails &details, const QRect &rect,
                   unsigned edge, unsigned flags, QRect *contentRect = nullptr);
    QRect BackgroundContentRect(const QWidget *widget, const ThemeElementDetails &details, const QRect &bounds);
    // `flags`: Qt alignment and text flags; `flags2`: DTT_GRAYED for greyed text.
    void PaintText(QPainter &dc, const QWidget *widget, const ThemeElementDetails &details, const QString &text,
                   const QRect &rect, int flags, unsigned flags2 = 0);
    void PaintParentBackground(QWidget *window, QPainter &dc, const ThemeElementDetails *details,
                               bool onlyIfTransparent, const QRect *rect = nullptr);
    // The theme's edit border over the frame of a control with a client edge
    // (a sunken panel frame); paints through `dc` when given, else on the control.
    void PaintClientEdge(QWidget *control, bool eraseSizeBox, QPainter *dc = nullptr);

    // Posts one theme-change notice (coalesced) to the watched object.
    void NoteThemeChange();

    static QEvent::Type ThemeChangedEvent();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QPointer<QObject> window_;
    bool watching_ = false;
    std::array<HTHEME, ThemedElementCount> handles_{};
    bool changePosted_ = false;
};

// The process's theme services, created on first use; null without an
// application object.
TThemeServices *ThemeServices();
// Frees the instance (at exit; the next ThemeServices() makes a new one).
void FreeThemeServices();
