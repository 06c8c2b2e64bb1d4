#include "console/BitmapButton.h"

#include <QFont>
#include <QPainter>

namespace vantrel {

BitmapButton::BitmapButton(const QString& caption, const QPixmap& face, QWidget* parent)
    : QPushButton(caption, parent), face_(face) {
  setFixedSize(sizeHint());
}

void BitmapButton::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.drawPixmap(0, 0, face_);
}

QPixmap NandEraseFace() {
  QPixmap face(101, 20);
  face.fill(QColor(0xF4, 0xF2, 0xEA));
  QPainter p(&face);
  p.setRenderHint(QPainter::TextAntialiasing);
  // A thin frame so the picture still reads as a button.
  p.setPen(QColor(0xC8, 0xC4, 0xB8));
  p.drawRect(0, 0, 100, 19);
  QFont font(QStringLiteral("Arial"));
  font.setPixelSize(13);
  font.setBold(true);
  p.setFont(font);
  p.setPen(QColor(0x80, 0x80, 0x80));
  p.drawText(QRect(0, 0, 101, 20), Qt::AlignCenter, QStringLiteral("NAND Erase"));
  return face;
}

}  // namespace vantrel
