// A shape control: a circle inscribed in its rectangle, drawn with a
// one-pixel outline and a fill that is either solid (the fill colour) or
// transparent (outline only, the container shows through). Drawn
// anti-aliased at any device pixel ratio. A shape never takes the focus and
// handles no input. A fill set while a tick is handled is drawn when that
// tick's sound is heard (presented_value.h); fillStyle() is the one set.
#pragma once

#include "controls/presented_value.h"

#include <QColor>
#include <QWidget>

// The numbering is the one stored and passed around for fill styles.
enum class FillStyle { Solid = 0, Transparent = 1 };

class Shape : public QWidget
{
    Q_OBJECT

public:
    explicit Shape(QWidget *parent = nullptr);

    FillStyle fillStyle() const { return m_fillStyle; }
    void setFillStyle(FillStyle style);

    QColor borderColor() const { return m_borderColor; }
    void setBorderColor(const QColor &color);

    QColor fillColor() const { return m_fillColor; }
    void setFillColor(const QColor &color);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    FillStyle m_fillStyle = FillStyle::Transparent;
    PresentedValue<FillStyle> m_drawnFill{this, FillStyle::Transparent};
    QColor m_borderColor = Qt::black;
    QColor m_fillColor = Qt::black;
};
