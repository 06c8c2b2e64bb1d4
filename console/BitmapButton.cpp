#include "console/BitmapButton.h"

#include <QFont>
#include <QPainter>

namespace vantrel {

namespace {

constexpr int kPressedShiftPx = 1;
constexpr int kFocusInsetPx = 2;

}  // namespace

BitmapButton::BitmapButton(const QString& caption, const QIcon& face, QSize size, QWidget* parent)
    : QPushButton(caption, parent), face_(face), size_(size) {
  setFixedSize(size_);
}

void BitmapButton::paintEvent(QPaintEvent*) {
  QPainter p(this);
  const int shift = isDown() ? kPressedShiftPx : 0;
  // QIcon picks the 2x picture on a scaled screen and greys it when disabled.
  face_.paint(&p, rect().translated(shift, shift), Qt::AlignCenter, isEnabled() ? QIcon::Normal : QIcon::Disabled);
  if (!isEnabled()) {
    // The style's grey alone is faint on a grey picture: wash it out too.
    p.fillRect(rect(), QColor(0xFF, 0xFF, 0xFF, 0x80));
  }
  if (hasFocus()) {
    p.setPen(QPen(palette().color(QPalette::WindowText), 1, Qt::DotLine));
    p.drawRect(rect().adjusted(kFocusInsetPx, kFocusInsetPx, -kFocusInsetPx - 1, -kFocusInsetPx - 1));
  }
}

QPixmap NandEraseFace(qreal scale) {
  const QSize size = kNandEraseFaceSize;
  QPixmap face(size * scale);
  face.setDevicePixelRatio(scale);
  face.fill(QColor(0xF4, 0xF2, 0xEA));
  QPainter p(&face);
  p.setRenderHint(QPainter::TextAntialiasing);
  // A thin frame so the picture still reads as a button.
  p.setPen(QColor(0xC8, 0xC4, 0xB8));
  p.drawRect(0, 0, size.width() - 1, size.height() - 1);
  // Pixels of the picture, not points: the words must fit its fixed size.
  QFont font;
  font.setFamilies({QStringLiteral("Arial"), QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans")});
  font.setPixelSize(13);
  font.setBold(true);
  p.setFont(font);
  p.setPen(QColor(0x80, 0x80, 0x80));
  p.drawText(QRect(QPoint(0, 0), size), Qt::AlignCenter, QStringLiteral("NAND Erase"));
  return face;
}

QIcon NandEraseIcon() {
  QIcon icon;
  icon.addPixmap(NandEraseFace(1.0));
  icon.addPixmap(NandEraseFace(2.0));
  return icon;
}

}  // namespace vantrel
