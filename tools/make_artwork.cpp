// make-artwork DIR
// Draws the window's artwork into DIR: background.jpg (500 x 375), icon.png (32 x 32, opaque,
// 24-bit) and hand.png (32 x 32 link cursor, 256 colours, transparent surroundings).
#include <cstdio>
#include <tuple>

#include <QDir>
#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>

#include "window/fonts.h"

namespace {

const QColor kGround(15, 55, 93);
const QColor kTitleBand(54, 87, 119);
const QColor kInputStrip(205, 212, 211);
const QColor kBodyFrame(113, 101, 87);
const QColor kPanel(224, 224, 223);
const QColor kGlassRing(214, 218, 222);
const QColor kGlassHandle(22, 44, 118);
const QColor kTitleYellow(255, 255, 0);

// A rectangle given by its first and last pixel.
QRect pixels(int x1, int y1, int x2, int y2)
{
    return QRect(QPoint(x1, y1), QPoint(x2, y2));
}

QImage blurred(const QImage& image, int radius)
{
    // A few box blurs make a soft enough shadow without pulling in an effects framework.
    QImage out = image;
    for (int pass = 0; pass < 3; ++pass) {
        QImage next = out;
        for (int y = 0; y < out.height(); ++y) {
            for (int x = 0; x < out.width(); ++x) {
                int a = 0, n = 0;
                for (int dy = -radius; dy <= radius; ++dy) {
                    for (int dx = -radius; dx <= radius; ++dx) {
                        const int sx = x + dx, sy = y + dy;
                        if (sx < 0 || sy < 0 || sx >= out.width() || sy >= out.height())
                            continue;
                        a += qAlpha(out.pixel(sx, sy));
                        ++n;
                    }
                }
                next.setPixel(x, y, qRgba(0, 0, 0, a / n));
            }
        }
        out = next;
    }
    return out;
}

// A magnifying glass in a box of size x size: light grey ring, dark blue handle, soft shadow.
void drawGlass(QPainter& painter, const QRectF& box)
{
    const qreal s = box.width();
    const QPointF centre = box.topLeft() + QPointF(s * 0.40, s * 0.38);
    const qreal outer = s * 0.30;
    const qreal ring = s * 0.075;
    const QPointF handleFrom = centre + QPointF(outer * 0.72, outer * 0.72);
    const QPointF handleTo = box.topLeft() + QPointF(s * 0.92, s * 0.90);

    const int margin = qMax(4, int(s / 8));
    QImage shadow(
        box.size().toSize() + QSize(2 * margin, 2 * margin), QImage::Format_ARGB32_Premultiplied);
    shadow.fill(Qt::transparent);
    {
        QPainter p(&shadow);
        p.setRenderHint(QPainter::Antialiasing);
        p.translate(-box.topLeft() + QPointF(margin + s * 0.05, margin + s * 0.05));
        p.setPen(QPen(QColor(0, 0, 0, 90), ring * 1.3));
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(centre, outer, outer);
        p.setPen(QPen(QColor(0, 0, 0, 90), s * 0.13, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(handleFrom, handleTo);
    }
    painter.drawImage(
        box.topLeft() - QPointF(margin, margin), blurred(shadow, qMax(1, int(s / 40))));

    painter.setRenderHint(QPainter::Antialiasing);
    QRadialGradient lens(centre - QPointF(outer * 0.3, outer * 0.3), outer);
    lens.setColorAt(0, QColor(255, 255, 255, 200));
    lens.setColorAt(1, QColor(170, 205, 235, 150));
    painter.setPen(Qt::NoPen);
    painter.setBrush(lens);
    painter.drawEllipse(centre, outer - ring / 2, outer - ring / 2);

    painter.setPen(QPen(kGlassHandle, s * 0.13, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(handleFrom, handleTo);
    QLinearGradient steel(centre - QPointF(outer, outer), centre + QPointF(outer, outer));
    steel.setColorAt(0, QColor(250, 250, 252));
    steel.setColorAt(1, QColor(150, 156, 164));
    painter.setPen(QPen(QBrush(steel), ring));
    painter.setBrush(Qt::NoBrush);
    painter.drawEllipse(centre, outer, outer);
    painter.setPen(QPen(kGlassRing.darker(160), 1));
    painter.drawEllipse(centre, outer + ring / 2, outer + ring / 2);
}

QFont captionFont()
{
    QFont font = standardFont();
    font.setStyleStrategy(QFont::NoAntialias);
    return font;
}

void drawCaption(QPainter& painter, const QString& text, int right, int top)
{
    painter.setFont(captionFont());
    const QRect box(0, top, right + 1, 13);
    painter.drawText(box, Qt::AlignRight | Qt::AlignVCenter, text);
}

QImage background()
{
    QImage image(500, 375, QImage::Format_RGB32);
    image.fill(kGround);
    QPainter painter(&image);

    painter.fillRect(pixels(1, 1, 499, 46), kTitleBand);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(kInputStrip);
    painter.drawRoundedRect(QRectF(pixels(15, 48, 488, 93)).adjusted(0, 0, 1, 1), 7, 7);
    painter.setBrush(kBodyFrame);
    painter.drawRoundedRect(QRectF(pixels(19, 105, 488, 335)).adjusted(0, 0, 1, 1), 4, 4);
    painter.setBrush(kPanel);
    painter.drawRoundedRect(QRectF(pixels(32, 114, 326, 324)).adjusted(0, 0, 1, 1), 8, 8);
    painter.drawRoundedRect(QRectF(pixels(345, 114, 480, 324)).adjusted(0, 0, 1, 1), 8, 8);
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.fillRect(pixels(0, 350, 499, 374), Qt::white);

    drawGlass(painter, QRectF(12, -2, 86, 86));

    QFont title;
    title.setFamilies(cjkFamilies());
    title.setPixelSize(26);
    title.setBold(true);
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.setFont(title);
    const QString first = QStringLiteral("域");
    const QString rest = QStringLiteral("名注册信息查询系统");
    const QRect titleBox = pixels(98, 12, 380, 38);
    painter.setPen(kTitleYellow);
    painter.drawText(titleBox, Qt::AlignLeft | Qt::AlignVCenter, first);
    painter.setPen(Qt::white);
    const int firstWidth = QFontMetrics(title).horizontalAdvance(first);
    painter.drawText(
        titleBox.adjusted(firstWidth, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter, rest);

    painter.setPen(Qt::black);
    drawCaption(painter, QStringLiteral("域名："), 92, 132);
    drawCaption(painter, QStringLiteral("注册人："), 92, 162);
    drawCaption(painter, QStringLiteral("服务商："), 92, 191);
    drawCaption(painter, QStringLiteral("邮箱："), 92, 221);
    drawCaption(painter, QStringLiteral("注册日期："), 102, 252);
    drawCaption(painter, QStringLiteral("到期日期："), 102, 280);
    painter.setFont(captionFont());
    painter.drawText(
        QRect(354, 119, 60, 13), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("关注列表"));
    return image;
}

QImage icon()
{
    QImage image(32, 32, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    drawGlass(painter, QRectF(1, 1, 30, 30));
    return image;
}

// The pointing hand: white glove, black outline, index finger raised; fingertip at (10, 1).
QImage hand()
{
    // The glove's shapes are filled as one mask; its edge pixels become the outline.
    QImage mask(32, 32, QImage::Format_ARGB32);
    mask.fill(Qt::transparent);
    {
        QPainter painter(&mask);
        painter.setPen(Qt::NoPen);
        painter.setBrush(Qt::black);
        painter.drawRoundedRect(QRectF(8, 1, 6, 18), 3, 3); // index finger
        painter.drawRoundedRect(QRectF(13, 9, 6, 12), 3, 3); // middle finger
        painter.drawRoundedRect(QRectF(18, 10, 6, 12), 3, 3); // ring finger
        painter.drawRoundedRect(QRectF(23, 12, 5, 11), 2, 2); // little finger
        painter.drawRoundedRect(QRectF(8, 15, 20, 15), 4, 4); // palm
        const QPointF thumb[] = {{9, 17}, {5, 14}, {2, 15}, {2, 18}, {8, 27}, {10, 27}};
        painter.drawPolygon(thumb, 6);
    }
    const auto inside = [&mask](int x, int y) {
        return x >= 0 && y >= 0 && x < 32 && y < 32 && qAlpha(mask.pixel(x, y)) > 127;
    };
    QImage image(32, 32, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    for (int y = 0; y < 32; ++y) {
        for (int x = 0; x < 32; ++x) {
            if (!inside(x, y))
                continue;
            const bool edge
                = !inside(x - 1, y) || !inside(x + 1, y) || !inside(x, y - 1) || !inside(x, y + 1);
            image.setPixel(x, y, edge ? qRgb(0, 0, 0) : qRgb(255, 255, 255));
        }
    }
    for (const auto& [x, top, bottom] : {std::tuple {13, 10, 18}, {18, 11, 19}, {23, 13, 19}})
        for (int y = top; y <= bottom; ++y)
            image.setPixel(x, y, qRgb(0, 0, 0));
    return image.convertToFormat(
        QImage::Format_Indexed8, Qt::ThresholdAlphaDither | Qt::AvoidDither);
}

bool save(const QImage& image, const QString& path, const char* format, int quality = -1)
{
    if (image.save(path, format, quality))
        return true;
    std::fprintf(stderr, "make-artwork: cannot write %s\n", qPrintable(path));
    return false;
}

} // namespace

int main(int argc, char* argv[])
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: make-artwork DIR\n");
        return 2;
    }
    const QDir dir(QString::fromLocal8Bit(argv[1]));
    const bool ok = save(background(), dir.filePath(QStringLiteral("background.jpg")), "JPG", 92)
        && save(icon(), dir.filePath(QStringLiteral("icon.png")), "PNG")
        && save(hand(), dir.filePath(QStringLiteral("hand.png")), "PNG");
    return ok ? 0 : 1;
}
