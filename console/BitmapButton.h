#pragma once
// A push button that shows a picture instead of its caption, sized to the
// picture. The picture comes at 1x and 2x so it stays sharp on a scaled
// screen, and the button shows its state on it: greyed when disabled, a
// dotted frame when it has the keyboard focus, shifted while pressed.
#include <QIcon>
#include <QPixmap>
#include <QPushButton>

namespace vantrel {

class BitmapButton : public QPushButton {
  Q_OBJECT
 public:
  // `face` holds the picture at each scale it comes in; `size` is its size in
  // device-independent pixels.
  BitmapButton(const QString& caption, const QIcon& face, QSize size, QWidget* parent);
  QSize sizeHint() const override { return size_; }
  const QIcon& Face() const { return face_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QIcon face_;
  QSize size_;
};

// The face of the "PUSH" button: the words NAND Erase in grey on an
// off-white ground, 101 by 20 device-independent pixels, drawn at `scale`.
QPixmap NandEraseFace(qreal scale = 1.0);
// The face at 1x and 2x.
QIcon NandEraseIcon();
inline constexpr QSize kNandEraseFaceSize{101, 20};

}  // namespace vantrel
