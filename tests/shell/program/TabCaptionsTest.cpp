#include <optional>

#include "ColorChoiceFixture.h"

namespace
{
const QStringList g_dark = {"#2b2b2b", "#dcdcdc", "#1e1e1e", "#eeeeee", "#3c3f41", "#e0e0e0"};

// Reaches the tab bar's own description of a tab, which the style lays the caption out from.
struct TabBarAccess : QTabBar
{
    using QTabBar::initStyleOption;
};

// Makes the page holding the widget current at every tab level above it, without moving the
// keyboard focus there (a focused tab bar frames its current caption).
void BringToFront(QWidget* ip_widget)
{
    int l_index = -1;
    for (QWidget* lp_inner = ip_widget; QTabWidget* lp_tabs = GetWidgetTabWidget(lp_inner, l_index);
         lp_inner = lp_tabs)
        lp_tabs->setCurrentIndex(l_index);
}

// The tab widget's name, after the form it belongs to.
QString BarName(const QTabWidget* ip_tabs)
{
    for (const QWidget* lp_up = ip_tabs->parentWidget(); lp_up; lp_up = lp_up->parentWidget())
        if (QString(lp_up->metaObject()->className()).endsWith("Form"))
            return QString("%1/%2").arg(lp_up->metaObject()->className(), ip_tabs->objectName());
    return ip_tabs->objectName();
}

// Selects every tab of every tab widget once, as someone finding their way around would.
void LookAtEveryTab(QWidget* ip_window)
{
    for (QTabWidget* lp_tabs : ip_window->findChildren<QTabWidget*>())
    {
        BringToFront(lp_tabs);
        for (int l_i = 0; l_i < lp_tabs->count(); ++l_i)
            lp_tabs->setCurrentIndex(l_i);
    }
}

struct CaptionContrast
{
    double ratio;
    QString colors;
};

// The contrast of a caption as drawn: row by row, the pixel that stands out most from the
// tab's own colour just beside the caption. None when the caption is not wholly in view.
std::optional<CaptionContrast> MeasureCaption(QTabBar* ip_bar, const QImage& i_image, int i_index)
{
    QStyleOptionTab l_option;
    const auto lp_describe = &TabBarAccess::initStyleOption;
    (ip_bar->*lp_describe)(&l_option, i_index);
    const QRect l_textArea = ip_bar->style()->subElementRect(QStyle::SE_TabBarTabText, &l_option, ip_bar);
    const QRect l_caption =
        ip_bar->style()
            ->itemTextRect(l_option.fontMetrics, l_textArea, Qt::AlignCenter | Qt::TextShowMnemonic,
                           true, l_option.text)
            .adjusted(-2, -1, 2, 1);
    if (l_option.text.isEmpty() || !ip_bar->rect().contains(l_option.rect) ||
        !l_option.rect.contains(l_caption))
        return std::nullopt;
    for (const QWidget* lp_button : ip_bar->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
        if (lp_button->isVisible() && lp_button->geometry().intersects(l_caption))
            return std::nullopt;
    CaptionContrast l_strongest{0, QString()};
    for (int l_y = l_caption.top(); l_y <= l_caption.bottom(); ++l_y)
    {
        const QColor l_ground = i_image.pixelColor(l_caption.left(), l_y);
        for (int l_x = l_caption.left(); l_x <= l_caption.right(); ++l_x)
        {
            const QColor l_ink = i_image.pixelColor(l_x, l_y);
            if (Contrast(l_ink, l_ground) > l_strongest.ratio)
                l_strongest = {Contrast(l_ink, l_ground), l_ink.name() + " on " + l_ground.name()};
        }
    }
    return l_strongest;
}
} // namespace

using TabCaptions = ColorChoiceFixture;
INSTANTIATE_TEST_SUITE_P(DefaultOrDark, TabCaptions, EveryColorChoice(), ColorChoiceName);

TEST_P(TabCaptions, StandOutFromTheirTabsSelectedOrNotAndLeaveTheStoredColoursAsChosen)
{
    const QStringList l_chosen = StartShown(g_dark);
    mp_window->resize(1280, 800);
    // Tabs coloured before the colours change must not keep what they had then; at start-up
    // that is the tabs selected while the window was built, before the stored colours came.
    if (GetParam() == ColorChoice::DarkSavedInTheDialog)
        LookAtEveryTab(mp_window.get());
    ASSERT_NO_FATAL_FAILURE(SaveInTheDialogWhenChosen(g_dark));
    EXPECT_EQ(StoredPaletteColors(), l_chosen);

    // Every caption of every tab bar, measured while its tab is selected and while another is;
    // the faintest of each kept.
    QMap<QString, CaptionContrast> l_faintest;
    QStringList l_unmeasured;
    int l_tabs = 0;
    for (QTabBar* lp_bar : mp_window->findChildren<QTabBar*>())
    {
        auto* lp_tabs = qobject_cast<QTabWidget*>(lp_bar->parentWidget());
        ASSERT_NE(lp_tabs, nullptr);
        BringToFront(lp_tabs);
        l_tabs += lp_bar->count();
        const auto l_name = [&](int i_index, bool i_selected) {
            return QString("%1 \"%2\"%3").arg(BarName(lp_tabs), lp_bar->tabText(i_index),
                                              i_selected ? " selected" : "");
        };
        for (int l_current = 0; l_current < lp_bar->count(); ++l_current)
        {
            lp_tabs->setCurrentIndex(l_current);
            if (lp_bar->hasFocus())
                lp_bar->clearFocus();
            QCoreApplication::processEvents();
            const QImage l_image = lp_bar->grab().toImage();
            ASSERT_EQ(l_image.size(), lp_bar->size());
            for (int l_i = 0; l_i < lp_bar->count(); ++l_i)
            {
                const std::optional<CaptionContrast> l_measured = MeasureCaption(lp_bar, l_image, l_i);
                const QString l_key = l_name(l_i, l_i == l_current);
                if (l_measured && (!l_faintest.contains(l_key) || l_measured->ratio < l_faintest[l_key].ratio))
                    l_faintest[l_key] = *l_measured;
            }
        }
        for (int l_i = 0; l_i < lp_bar->count(); ++l_i)
            for (const bool l_selected : {true, false})
                if (!l_faintest.contains(l_name(l_i, l_selected)) && (l_selected || lp_bar->count() > 1))
                    l_unmeasured << l_name(l_i, l_selected);
    }
    QStringList l_faint;
    for (auto l_it = l_faintest.cbegin(); l_it != l_faintest.cend(); ++l_it)
        if (l_it->ratio < 4.5)
            l_faint << QString("%1: %2 (%3:1)").arg(l_it.key(), l_it->colors).arg(l_it->ratio, 0, 'f', 2);
    EXPECT_EQ(l_faint, QStringList());
    EXPECT_EQ(l_unmeasured, QStringList());
    // The main tabs, the options' sub-tabs and the pages' own tab bars were all there to measure.
    EXPECT_GE(l_tabs, 20);
    EXPECT_TRUE(l_faintest.contains("optionsTabControl \"Login\" selected"));

    BringToFront(mp_ui->loginOptionsTab);
    QCoreApplication::processEvents();
    Picture(mp_window.get(), QString("options-tabs-%1.png").arg(ColorChoiceName({GetParam(), 0}).c_str()));

    EXPECT_EQ(StoredPaletteColors(), l_chosen);
    ExpectStoreFileHolds(l_chosen);
}
