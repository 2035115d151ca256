#pragma once
// Dialog units: a dialog template's coordinates in the dialog font's
// average character width (x/4) and height (y/8), so that a layout follows
// the font rather than a fixed pixel grid.

#include <QFont>
#include <QRect>

namespace varnel::qt {

class DialogUnits {
public:
    explicit DialogUnits(const QFont& font);

    int X(int units) const { return (units * m_baseX + 2) / 4; }
    int Y(int units) const { return (units * m_baseY + 4) / 8; }
    QRect Rect(int x, int y, int width, int height) const { return QRect(X(x), Y(y), X(width), Y(height)); }

private:
    int m_baseX;
    int m_baseY;
};

}  // namespace varnel::qt
