#include "shell/UIFunctions.h"

#include <QTabWidget>
#include <QVector>
#include <QWidget>

void FocusWidget(QWidget* widget)
{
    if (widget == nullptr)
        return;
    widget->window()->activateWindow();
    widget->setFocus(Qt::OtherFocusReason);

    // Pages sit in a tab widget's internal stack rather than directly below it, so the walk
    // keeps every widget passed and asks the tab widget which of them is one of its pages.
    QVector<QWidget*> l_passed;
    l_passed.append(widget);
    for (QWidget* lp_ancestor = widget->parentWidget(); lp_ancestor != nullptr;
         lp_ancestor = lp_ancestor->parentWidget())
    {
        if (QTabWidget* lp_tabs = qobject_cast<QTabWidget*>(lp_ancestor))
        {
            for (int l_i = l_passed.size() - 1; l_i >= 0; --l_i)
            {
                const int l_index = lp_tabs->indexOf(l_passed.at(l_i));
                if (l_index != -1)
                {
                    lp_tabs->setCurrentIndex(l_index);
                    break;
                }
            }
        }
        l_passed.append(lp_ancestor);
    }
}
