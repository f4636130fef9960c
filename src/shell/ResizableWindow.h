#pragma once

#include <QObject>

// A window whose place and size the SizeManager keeps. The window reports its own moves and
// resizes through the signals, so it decides which ones count (a maximized window sends none).
class ResizableWindow : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    // The geometry without the frame, in pixels.
    virtual int GetX() = 0;
    virtual int GetY() = 0;
    virtual int GetWidth() = 0;
    virtual int GetHeight() = 0;
    virtual void SetPosition(int i_x, int i_y) = 0;
    virtual void SetSize(int i_width, int i_height) = 0;

signals:
    void WindowMoved(int i_x, int i_y);
    void WindowResized(int i_width, int i_height);
};
