// The element detail mappers and the schema: the detail values of the
// classes the manager draws, to their part, state and style element.
#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionTab>

#include "theme/ThemeSrv.h"

namespace {

using S = QStyle;
const S::State En = S::State_Enabled;

} // namespace

TEST(ThemeDetails, RangesGivePartAndStateAndEveryValueHasSomethingToDraw)
{
    // The length of each part's range of values, from value 2 on.
    const std::pair<ThemeElementDetails (*)(int), std::vector<int>> mappers[] = {
        {ButtonDetails, {5, 8, 12, 2, 1}},          {EditDetails, {7, 1}},        {RebarDetails, {1, 1, 6, 4, 4}},
        {StatusDetails, {1, 1, 1}},                 {TabDetails, {5, 5, 5, 5, 5, 5, 5, 5, 1, 1}},
        {ToolBarDetails, {6, 6, 6, 6, 6, 6}},       {TrackBarDetails, {1, 1, 5, 5, 5, 5, 5, 5, 1, 1}}};
    for (const auto &[mapper, lengths] : mappers) {
        const int element = mapper(0).Element;
        SCOPED_TRACE(element);
        // 0 and 1 of each enumeration: no particular part.
        EXPECT_EQ(mapper(0), (ThemeElementDetails{element, 0, 1}));
        EXPECT_EQ(mapper(1), (ThemeElementDetails{element, 0, 2}));
        int v = 2;
        for (int part = 1; part <= int(lengths.size()); ++part) {
            for (int state = 1; state <= lengths[part - 1]; ++state, ++v) {
                EXPECT_EQ(mapper(v), (ThemeElementDetails{element, part, state})) << v;
                // Every value of a range has something to draw, except the edit caret.
                if (!(element == teEdit && part == EP_CARET)) {
                    EXPECT_NE(StyleElementFor(element, part, state).kind, TStyleKind::None) << v;
                }
            }
        }
        // Past the last range: part 0, state v + 1.
        EXPECT_EQ(mapper(v), (ThemeElementDetails{element, 0, v + 1}));
    }
}

TEST(ThemeDetails, StyleElementsAndStates)
{
    const struct {
        ThemeElementDetails details;
        TStyleKind kind;
        int styleElement;
        S::State styleState;
        int variant;
    } rows[] = {
        // Push buttons: hot, pressed, disabled and the default one.
        {ButtonDetails(tbPushButtonHot), TStyleKind::Control, S::CE_PushButtonBevel,
         En | S::State_Raised | S::State_MouseOver, 0},
        {ButtonDetails(tbPushButtonPressed), TStyleKind::Control, S::CE_PushButtonBevel, En | S::State_Sunken, 0},
        {ButtonDetails(tbPushButtonDisabled), TStyleKind::Control, S::CE_PushButtonBevel, S::State_Raised, 0},
        {ButtonDetails(tbPushButtonDefaulted), TStyleKind::Control, S::CE_PushButtonBevel, En | S::State_Raised, 1},
        {ButtonDetails(tbRadioButtonCheckedDisabled), TStyleKind::Primitive, S::PE_IndicatorRadioButton,
         S::State_On, 0},
        {ButtonDetails(tbCheckBoxMixedPressed), TStyleKind::Primitive, S::PE_IndicatorCheckBox,
         En | S::State_Sunken | S::State_NoChange, 0},
        {ButtonDetails(tbGroupBoxDisabled), TStyleKind::Primitive, S::PE_FrameGroupBox, S::State_None, 0},
        {ButtonDetails(tbUserButton), TStyleKind::Primitive, S::PE_PanelButtonBevel, En | S::State_Raised, 0},
        {EditDetails(6), TStyleKind::Primitive, S::PE_FrameLineEdit, En | S::State_Sunken | S::State_HasFocus, 0},
        {EditDetails(teEditCaret), TStyleKind::None, 0, S::State_None, 0},
        {RebarDetails(trBandNormal), TStyleKind::Primitive, S::PE_PanelToolBar, En | S::State_Horizontal, 0},
        {RebarDetails(trGripperVert), TStyleKind::Primitive, S::PE_IndicatorToolBarHandle, En, 0},
        {StatusDetails(tsStatusRoot), TStyleKind::Primitive, S::PE_PanelStatusBar, En, 0},
        {StatusDetails(tsPane), TStyleKind::Primitive, S::PE_FrameStatusBarItem, En, 0},
        {StatusDetails(tsGripper), TStyleKind::Control, S::CE_SizeGrip, En, 0},
        {TabDetails(ttTabItemNormal), TStyleKind::Control, S::CE_TabBarTabShape, En, QStyleOptionTab::Middle},
        {TabDetails(14), TStyleKind::Control, S::CE_TabBarTabShape, En | S::State_Selected, QStyleOptionTab::End},
        {TabDetails(ttBody), TStyleKind::Primitive, S::PE_FrameTabWidget, En, 1},
        {ToolBarDetails(ttbButtonHot), TStyleKind::Primitive, S::PE_PanelButtonTool,
         En | S::State_AutoRaise | S::State_MouseOver | S::State_Raised, 0},
        {ToolBarDetails(ttbButtonDisabled), TStyleKind::Primitive, S::PE_PanelButtonTool, S::State_AutoRaise, 0},
        {ToolBarDetails(27), TStyleKind::Primitive, S::PE_IndicatorToolBarSeparator, En | S::State_Horizontal, 0},
        {TrackBarDetails(ttbThumbNormal + 2), TStyleKind::Complex, S::CC_Slider,
         En | S::State_Sunken | S::State_Horizontal, 0},
    };
    for (const auto &r : rows) {
        const TStyleElement e = StyleElementFor(r.details.Element, r.details.Part, r.details.State);
        SCOPED_TRACE(testing::Message() << r.details.Element << "/" << r.details.Part << "/" << r.details.State);
        EXPECT_EQ(e.kind, r.kind);
        EXPECT_EQ(e.element, r.styleElement);
        EXPECT_EQ(e.state, r.styleState);
        EXPECT_EQ(e.variant, r.variant);
    }
    // The slider sub-controls: groove, handle, tick marks.
    EXPECT_EQ(StyleElementFor(teTrackBar, 1, 1).subControls, int(S::SC_SliderGroove));
    EXPECT_EQ(StyleElementFor(teTrackBar, 3, 1).subControls, int(S::SC_SliderHandle));
    EXPECT_EQ(StyleElementFor(teTrackBar, 10, 1).subControls, int(S::SC_SliderTickmarks));
    // Classes the manager does not draw have no elements.
    EXPECT_EQ(StyleElementFor(teClock, 1, 1).kind, TStyleKind::None);
    EXPECT_EQ(StyleElementFor(teButton, 1, 9).kind, TStyleKind::None);
}

TEST(ThemeDetails, CheckMarksAtTheEdgesOfTheStateRanges)
{
    const S::State marks = S::State_Off | S::State_On | S::State_NoChange;
    // The last state of one mark and the first of the next (disabled, then normal).
    const struct {
        int part, state;
        S::State mark;
        bool enabled;
    } edges[] = {{BP_RADIOBUTTON, 4, S::State_Off, false}, {BP_RADIOBUTTON, 5, S::State_On, true},
                 {BP_RADIOBUTTON, 8, S::State_On, false},  {BP_CHECKBOX, 4, S::State_Off, false},
                 {BP_CHECKBOX, 5, S::State_On, true},      {BP_CHECKBOX, 8, S::State_On, false},
                 {BP_CHECKBOX, 9, S::State_NoChange, true}, {BP_CHECKBOX, 12, S::State_NoChange, false}};
    for (const auto &e : edges) {
        SCOPED_TRACE(testing::Message() << e.part << "/" << e.state);
        const TStyleElement got = StyleElementFor(teButton, e.part, e.state);
        EXPECT_EQ(got.state & marks, e.mark);
        EXPECT_EQ(bool(got.state & En), e.enabled);
    }
    // Drawn: the unchecked disabled radio button is not the checked one, and
    // the checked disabled check box neither the mixed nor the unchecked one.
    auto draw = [](int part, int state) {
        QImage img(16, 16, QImage::Format_ARGB32);
        img.fill(Qt::white);
        QPainter p(&img);
        DrawStyleElement(QApplication::style(), &p, nullptr, StyleElementFor(teButton, part, state), img.rect());
        return img;
    };
    EXPECT_NE(draw(BP_RADIOBUTTON, 4), draw(BP_RADIOBUTTON, 8));
    EXPECT_NE(draw(BP_CHECKBOX, 8), draw(BP_CHECKBOX, 12));
    EXPECT_NE(draw(BP_CHECKBOX, 8), draw(BP_CHECKBOX, 4));
}
