#include "ImageList1.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace ImageList1 {
namespace {

constexpr int Size = 16;

enum class Kind { Group, Offline, Online, Other };

Kind kindOf(int image) {
    switch (image) {
    case Group:
        return Kind::Group;
    case Offline:
        return Kind::Offline;
    case Online:
        return Kind::Online;
    default:
        return Kind::Other;
    }
}

QColor colorOf(Kind kind) {
    switch (kind) {
    case Kind::Offline:
        return QColor(0x9e, 0x9e, 0x9e);
    case Kind::Online:
        return QColor(0x2e, 0xb8, 0x4b);
    case Kind::Other:
        return QColor(0xf5, 0x8c, 0x1a);
    case Kind::Group:
        break;
    }
    return QColor(0xe8, 0xb9, 0x4a);
}

// A closed folder in the 16 x 16 design grid.
void drawFolder(QPainter& p) {
    const QColor body = colorOf(Kind::Group);
    const QColor edge = body.darker(150);
    QPainterPath tab;
    tab.moveTo(1.5, 4.5);
    tab.lineTo(1.5, 2.5);
    tab.lineTo(6.0, 2.5);
    tab.lineTo(7.5, 4.5);
    tab.closeSubpath();
    p.setPen(QPen(edge, 1.0));
    p.setBrush(body.darker(115));
    p.drawPath(tab);
    p.setBrush(body);
    p.drawRoundedRect(QRectF(1.5, 4.5, 13.0, 9.0), 1.0, 1.0);
    p.setPen(QPen(body.lighter(130), 1.0));
    p.drawLine(QPointF(2.5, 6.0), QPointF(13.5, 6.0));
}

// A filled status dot with a darker rim and a small highlight.
void drawDot(QPainter& p, const QColor& color) {
    p.setPen(QPen(color.darker(140), 1.0));
    p.setBrush(color);
    p.drawEllipse(QRectF(2.5, 2.5, 11.0, 11.0));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 255, 110));
    p.drawEllipse(QRectF(5.0, 4.5, 3.5, 2.5));
}

QPixmap draw(Kind kind, int scale) {
    QPixmap pixmap(Size * scale, Size * scale);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(scale, scale);
    if (kind == Kind::Group)
        drawFolder(p);
    else
        drawDot(p, colorOf(kind));
    return pixmap;
}

QIcon make(Kind kind) {
    QIcon icon;
    icon.addPixmap(draw(kind, 1));
    icon.addPixmap(draw(kind, 2));
    return icon;
}

} // namespace

QIcon icon(int image) {
    // Drawn on first use, after the application object exists; the tree asks for these once per node.
    static const QIcon group = make(Kind::Group);
    static const QIcon offline = make(Kind::Offline);
    static const QIcon online = make(Kind::Online);
    static const QIcon other = make(Kind::Other);
    switch (kindOf(image)) {
    case Kind::Group:
        return group;
    case Kind::Offline:
        return offline;
    case Kind::Online:
        return online;
    case Kind::Other:
        break;
    }
    return other;
}

QColor statusColor(int image) {
    return colorOf(kindOf(image));
}

} // namespace ImageList1
