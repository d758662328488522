// The element detail mappers and the schema: every detail value of the
// classes the manager draws, to its part, state and style element.
#include <gtest/gtest.h>

#include <QStyle>
#include <QStyleOptionTab>

#include "theme/ThemeSrv.h"

namespace {

using S = QStyle;

struct Row {
    ThemeElementDetails (*mapper)(int);
    int value;
    int element, part, state;
    TStyleKind kind;
    int styleElement;
    S::State styleState;
    int variant;
};

const S::State En = S::State_Enabled;

} // namespace

TEST(ThemeDetails, RangesGivePartAndState)
{
    EXPECT_EQ(ButtonDetails(7), (ThemeElementDetails{teButton, 2, 1}));
    EXPECT_EQ(TabDetails(43), (ThemeElementDetails{teTab, 10, 1}));
    // 0 and 1 of each enumeration: no particular part.
    for (auto mapper : {ButtonDetails, EditDetails, RebarDetails, StatusDetails, TabDetails, ToolBarDetails,
                        TrackBarDetails}) {
        EXPECT_EQ(mapper(0).Part, 0);
        EXPECT_EQ(mapper(0).State, 1);
        EXPECT_EQ(mapper(1).Part, 0);
        EXPECT_EQ(mapper(1).State, 2);
    }
    // Past the last range: part 0, state v + 1.
    EXPECT_EQ(ButtonDetails(30), (ThemeElementDetails{teButton, 0, 31}));
    EXPECT_EQ(EditDetails(10), (ThemeElementDetails{teEdit, 0, 11}));
    EXPECT_EQ(TrackBarDetails(36), (ThemeElementDetails{teTrackBar, 0, 37}));
    // Each range starts at state 1 and counts up.
    struct Span {
        ThemeElementDetails (*mapper)(int);
        int first, last, part;
    };
    const Span spans[] = {
        {ButtonDetails, 2, 6, 1},    {ButtonDetails, 7, 14, 2},  {ButtonDetails, 15, 26, 3},
        {ButtonDetails, 27, 28, 4},  {ButtonDetails, 29, 29, 5}, {EditDetails, 2, 8, 1},
        {EditDetails, 9, 9, 2},      {RebarDetails, 2, 2, 1},    {RebarDetails, 3, 3, 2},
        {RebarDetails, 4, 9, 3},     {RebarDetails, 10, 13, 4},  {RebarDetails, 14, 17, 5},
        {StatusDetails, 2, 2, 1},    {StatusDetails, 3, 3, 2},   {StatusDetails, 4, 4, 3},
        {TabDetails, 2, 6, 1},       {TabDetails, 7, 11, 2},     {TabDetails, 12, 16, 3},
        {TabDetails, 17, 21, 4},     {TabDetails, 22, 26, 5},    {TabDetails, 27, 31, 6},
        {TabDetails, 32, 36, 7},     {TabDetails, 37, 41, 8},    {TabDetails, 42, 42, 9},
        {TabDetails, 43, 43, 10},    {ToolBarDetails, 2, 7, 1},  {ToolBarDetails, 8, 13, 2},
        {ToolBarDetails, 14, 19, 3}, {ToolBarDetails, 20, 25, 4}, {ToolBarDetails, 26, 31, 5},
        {ToolBarDetails, 32, 37, 6}, {TrackBarDetails, 2, 2, 1}, {TrackBarDetails, 3, 3, 2},
        {TrackBarDetails, 4, 8, 3},  {TrackBarDetails, 9, 13, 4}, {TrackBarDetails, 14, 18, 5},
        {TrackBarDetails, 19, 23, 6}, {TrackBarDetails, 24, 28, 7}, {TrackBarDetails, 29, 33, 8},
        {TrackBarDetails, 34, 34, 9}, {TrackBarDetails, 35, 35, 10}};
    for (const Span &s : spans)
        for (int v = s.first; v <= s.last; ++v) {
            const ThemeElementDetails d = s.mapper(v);
            EXPECT_EQ(d.Part, s.part) << v;
            EXPECT_EQ(d.State, v - s.first + 1) << v;
            // Every value of a range has something to draw, except the edit caret.
            if (!(d.Element == teEdit && d.Part == EP_CARET)) {
                EXPECT_NE(StyleElementFor(d.Element, d.Part, d.State).kind, TStyleKind::None)
                    << d.Element << " " << d.Part << " " << d.State;
            }
        }
}

TEST(ThemeDetails, StyleElementsAndStates)
{
    const Row rows[] = {
        // push buttons: normal, hot, pressed, disabled, default
        {ButtonDetails, tbPushButtonNormal, teButton, 1, 1, TStyleKind::Control, S::CE_PushButtonBevel,
         En | S::State_Raised, 0},
        {ButtonDetails, tbPushButtonHot, teButton, 1, 2, TStyleKind::Control, S::CE_PushButtonBevel,
         En | S::State_Raised | S::State_MouseOver, 0},
        {ButtonDetails, tbPushButtonPressed, teButton, 1, 3, TStyleKind::Control, S::CE_PushButtonBevel,
         En | S::State_Sunken, 0},
        {ButtonDetails, tbPushButtonDisabled, teButton, 1, 4, TStyleKind::Control, S::CE_PushButtonBevel,
         S::State_Raised, 0},
        {ButtonDetails, tbPushButtonDefaulted, teButton, 1, 5, TStyleKind::Control, S::CE_PushButtonBevel,
         En | S::State_Raised, 1},
        {ButtonDetails, tbRadioButtonUncheckedNormal, teButton, 2, 1, TStyleKind::Primitive,
         S::PE_IndicatorRadioButton, En | S::State_Off, 0},
        {ButtonDetails, tbRadioButtonCheckedDisabled, teButton, 2, 8, TStyleKind::Primitive,
         S::PE_IndicatorRadioButton, S::State_On, 0},
        {ButtonDetails, tbCheckBoxUncheckedDisabled, teButton, 3, 4, TStyleKind::Primitive, S::PE_IndicatorCheckBox,
         S::State_Off, 0},
        {ButtonDetails, tbCheckBoxCheckedHot, teButton, 3, 6, TStyleKind::Primitive, S::PE_IndicatorCheckBox,
         En | S::State_MouseOver | S::State_On, 0},
        {ButtonDetails, tbCheckBoxMixedPressed, teButton, 3, 11, TStyleKind::Primitive, S::PE_IndicatorCheckBox,
         En | S::State_Sunken | S::State_NoChange, 0},
        {ButtonDetails, tbGroupBoxNormal, teButton, 4, 1, TStyleKind::Primitive, S::PE_FrameGroupBox, En, 0},
        {ButtonDetails, tbGroupBoxDisabled, teButton, 4, 2, TStyleKind::Primitive, S::PE_FrameGroupBox,
         S::State_None, 0},
        {ButtonDetails, tbUserButton, teButton, 5, 1, TStyleKind::Primitive, S::PE_PanelButtonBevel,
         En | S::State_Raised, 0},
        {EditDetails, teEditTextNormal, teEdit, 1, 1, TStyleKind::Primitive, S::PE_FrameLineEdit,
         En | S::State_Sunken, 0},
        {EditDetails, 6, teEdit, 1, 5, TStyleKind::Primitive, S::PE_FrameLineEdit,
         En | S::State_Sunken | S::State_HasFocus, 0},
        {EditDetails, teEditCaret, teEdit, 2, 1, TStyleKind::None, 0, S::State_None, 0},
        {RebarDetails, trBandNormal, teRebar, 3, 1, TStyleKind::Primitive, S::PE_PanelToolBar,
         En | S::State_Horizontal, 0},
        {RebarDetails, trGripperVert, teRebar, 2, 1, TStyleKind::Primitive, S::PE_IndicatorToolBarHandle, En, 0},
        {StatusDetails, tsStatusRoot, teStatus, 0, 2, TStyleKind::Primitive, S::PE_PanelStatusBar, En, 0},
        {StatusDetails, tsPane, teStatus, 1, 1, TStyleKind::Primitive, S::PE_FrameStatusBarItem, En, 0},
        {StatusDetails, tsGripper, teStatus, 3, 1, TStyleKind::Control, S::CE_SizeGrip, En, 0},
        {TabDetails, ttTabItemNormal, teTab, 1, 1, TStyleKind::Control, S::CE_TabBarTabShape, En,
         QStyleOptionTab::Middle},
        {TabDetails, 14, teTab, 3, 3, TStyleKind::Control, S::CE_TabBarTabShape, En | S::State_Selected,
         QStyleOptionTab::End},
        {TabDetails, ttPane, teTab, 9, 1, TStyleKind::Primitive, S::PE_FrameTabWidget, En, 0},
        {TabDetails, ttBody, teTab, 10, 1, TStyleKind::Primitive, S::PE_FrameTabWidget, En, 1},
        {ToolBarDetails, ttbButtonNormal, teToolBar, 1, 1, TStyleKind::Primitive, S::PE_PanelButtonTool,
         En | S::State_AutoRaise, 0},
        {ToolBarDetails, ttbButtonHot, teToolBar, 1, 2, TStyleKind::Primitive, S::PE_PanelButtonTool,
         En | S::State_AutoRaise | S::State_MouseOver | S::State_Raised, 0},
        {ToolBarDetails, ttbButtonPressed, teToolBar, 1, 3, TStyleKind::Primitive, S::PE_PanelButtonTool,
         En | S::State_AutoRaise | S::State_Sunken, 0},
        {ToolBarDetails, ttbButtonDisabled, teToolBar, 1, 4, TStyleKind::Primitive, S::PE_PanelButtonTool,
         S::State_AutoRaise, 0},
        {ToolBarDetails, 27, teToolBar, 5, 2, TStyleKind::Primitive, S::PE_IndicatorToolBarSeparator,
         En | S::State_Horizontal, 0},
        {TrackBarDetails, ttbTrack, teTrackBar, 1, 1, TStyleKind::Complex, S::CC_Slider, En | S::State_Horizontal,
         0},
        {TrackBarDetails, ttbThumbNormal + 2, teTrackBar, 3, 3, TStyleKind::Complex, S::CC_Slider,
         En | S::State_Sunken | S::State_Horizontal, 0},
        {TrackBarDetails, 34, teTrackBar, 9, 1, TStyleKind::Complex, S::CC_Slider, En | S::State_Horizontal, 0},
    };
    for (const Row &r : rows) {
        const ThemeElementDetails d = r.mapper(r.value);
        EXPECT_EQ(d, (ThemeElementDetails{r.element, r.part, r.state})) << r.value;
        const TStyleElement e = StyleElementFor(d.Element, d.Part, d.State);
        EXPECT_EQ(e.kind, r.kind) << r.element << "/" << r.value;
        EXPECT_EQ(e.element, r.styleElement) << r.element << "/" << r.value;
        EXPECT_EQ(e.state, r.styleState) << r.element << "/" << r.value;
        EXPECT_EQ(e.variant, r.variant) << r.element << "/" << r.value;
    }
    // The slider sub-controls: groove, handle, tick marks.
    EXPECT_EQ(StyleElementFor(teTrackBar, 1, 1).subControls, int(S::SC_SliderGroove));
    EXPECT_EQ(StyleElementFor(teTrackBar, 3, 1).subControls, int(S::SC_SliderHandle));
    EXPECT_EQ(StyleElementFor(teTrackBar, 10, 1).subControls, int(S::SC_SliderTickmarks));
    // Classes the manager does not draw have no elements.
    EXPECT_EQ(StyleElementFor(teClock, 1, 1).kind, TStyleKind::None);
    EXPECT_EQ(StyleElementFor(teButton, 1, 9).kind, TStyleKind::None);
}
