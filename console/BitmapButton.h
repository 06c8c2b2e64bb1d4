#pragma once
// A push button that shows one picture in every state (normal, pressed,
// focused, disabled) instead of its caption, sized to the picture.
#include <QPixmap>
#include <QPushButton>

namespace vantrel {

class BitmapButton : public QPushButton {
  Q_OBJECT
 public:
  BitmapButton(const QString& caption, const QPixmap& face, QWidget* parent);
  QSize sizeHint() const override { return face_.size() / face_.devicePixelRatio(); }
  const QPixmap& Face() const { return face_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QPixmap face_;
};

// The face of the "PUSH" button: the words NAND Erase in grey on an
// off-white ground, 101 by 20 pixels.
QPixmap NandEraseFace();

}  // namespace vantrel
