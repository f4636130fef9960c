#pragma once

class QWidget;

// Brings a widget to the front: activates its window, gives it the keyboard focus and makes
// the page holding it current in every enclosing tab widget, innermost first.
void FocusWidget(QWidget* widget);
