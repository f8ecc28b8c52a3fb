#include "prefsfixture.h"

#include "preferences/colorchooserpopupbutton.h"

#include <QColorDialog>
#include <QSignalSpy>

using namespace corvane;
using namespace corvane::test;
using desktop::ColorChooserPopUpButton;

namespace {

class ColorChooserTest : public PrefsFixture
{
protected:
    static CommonColor firstPreset() { return ColorChooserPopUpButton::presets().first().color; }
};

TEST_F(ColorChooserTest, PresetsAndSwatches)
{
    const QList<ColorChooserPopUpButton::Preset> &presets = ColorChooserPopUpButton::presets();
    ASSERT_GE(presets.size(), 8);
    for (const auto &preset : presets) {
        SCOPED_TRACE(preset.name.toStdString());
        EXPECT_EQ(preset.color.alpha, 1.0);
        for (double component : {preset.color.red, preset.color.green, preset.color.blue}) {
            EXPECT_GE(component, 0.0);
            EXPECT_LE(component, 1.0);
        }
    }
    const QImage swatch = ColorChooserPopUpButton::swatch(CommonColor{1, 0, 0, 1}).toImage();
    EXPECT_EQ(swatch.size(), QSize(15, 10));
    for (const QPoint &frame : {QPoint(0, 0), QPoint(1, 1), QPoint(14, 9), QPoint(7, 0), QPoint(0, 5)})
        EXPECT_EQ(swatch.pixelColor(frame), QColor(Qt::black)) << frame.x() << "," << frame.y();
    for (const QPoint &inside : {QPoint(2, 2), QPoint(7, 5), QPoint(12, 7)})
        EXPECT_EQ(swatch.pixelColor(inside), QColor(Qt::red)) << inside.x() << "," << inside.y();
}

TEST_F(ColorChooserTest, BoundButtonFollowsItsSetting)
{
    const QString key = QStringLiteral("markBackgroundColor");
    settings().removeValue(key);
    for (bool showNone : {true, false}) {
        SCOPED_TRACE(showNone);
        ColorChooserPopUpButton button;
        button.setShowNone(showNone);
        button.bindToUserDefaults(settings(), key);
        // Absent: "None", or the first preset without it.
        EXPECT_EQ(button.currentIndex(), 0);
        EXPECT_EQ(button.currentText(), showNone ? QStringLiteral("None")
                                                 : ColorChooserPopUpButton::presets().first().name);
        EXPECT_FALSE(button.color());
    }

    ColorChooserPopUpButton button;
    button.setShowNone(true);
    button.bindToUserDefaults(settings(), key);
    // A preset colour stored elsewhere selects its entry.
    const ColorChooserPopUpButton::Preset preset = ColorChooserPopUpButton::presets().at(3);
    settings().setColor(key, preset.color);
    settle();
    EXPECT_EQ(button.currentText(), preset.name);
    // A colour not among the presets goes on "Other…" with its swatch.
    const CommonColor odd{0.123, 0.456, 0.789, 1};
    settings().setColor(key, odd);
    settle();
    EXPECT_EQ(button.currentIndex(), button.otherIndex());
    EXPECT_EQ(button.currentText(), QStringLiteral("Other…"));
    EXPECT_EQ(button.entryColor(button.otherIndex()), odd);
    EXPECT_EQ(button.itemIcon(button.otherIndex()).pixmap(15, 10).toImage().pixel(7, 5),
              QColor::fromRgbF(0.123f, 0.456f, 0.789f).rgb());
    // Choosing "None" removes the setting.
    button.changeColorFromEntry(0);
    EXPECT_FALSE(settings().hasStoredValue(key));
    EXPECT_FALSE(settings().color(key));
}

TEST_F(ColorChooserTest, ResetWritesTheDefaultAndTellsTheDelegate)
{
    const QString key = QStringLiteral("fontColor");
    ColorChooserPopUpButton button;
    button.bindToUserDefaults(settings(), key);
    // The registered default (white) is a preset.
    EXPECT_EQ(button.color(), (CommonColor{1, 1, 1, 1}));
    EXPECT_NE(button.currentIndex(), button.otherIndex());
    QSignalSpy told(&button, &ColorChooserPopUpButton::colorDidChange);

    button.setDefaultColor(CommonColor{1, 1, 1, 1});
    EXPECT_EQ(told.count(), 1);
    button.changeColorFromEntry(1);
    EXPECT_EQ(settings().color(key), button.entryColor(1));
    EXPECT_EQ(told.count(), 2);
    button.reset();
    EXPECT_EQ(settings().color(key), (CommonColor{1, 1, 1, 1}));
    EXPECT_EQ(button.color(), (CommonColor{1, 1, 1, 1}));
    EXPECT_EQ(told.count(), 3);
    ASSERT_EQ(told.last().first().value<ColorChooserPopUpButton *>(), &button);
}

TEST_F(ColorChooserTest, OtherOpensTheColourDialog)
{
    ColorChooserPopUpButton button;
    button.changeColor(firstPreset());
    QSignalSpy told(&button, &ColorChooserPopUpButton::colorDidChange);
    button.showColorPanel();
    QColorDialog *panel = button.colorPanel();
    ASSERT_NE(panel, nullptr);
    panel->setCurrentColor(QColor(10, 200, 30));
    EXPECT_EQ(button.currentIndex(), button.otherIndex());
    ASSERT_TRUE(button.color());
    EXPECT_NEAR(button.color()->green, 200 / 255.0, 1e-3);
    EXPECT_GE(told.count(), 1);
    panel->close();
    settle();
    EXPECT_EQ(button.colorPanel(), nullptr);
    EXPECT_EQ(button.currentIndex(), button.otherIndex());

    // Opened again, the dialog starts from the colour "Other…" carries.
    button.changeColorFromEntry(0);
    button.showColorPanel();
    ASSERT_NE(button.colorPanel(), nullptr);
    EXPECT_EQ(button.colorPanel()->currentColor().green(), 200);
    EXPECT_EQ(button.currentIndex(), button.otherIndex());
    button.colorPanel()->close();
    settle();
}

} // namespace
