#pragma once
// The animation control of the dialog layer (internal to platform/ui: it
// includes Qt). It plays an Animation clip (resources.h) with a QTimer on the
// dialogs' thread, frame after frame, each for the clip's frameMs.
//
// In: open (a clip, or nullptr to close), play (repeat count, first and last
// frame), stop. Out: paints the current frame, centred (kAnimCenter) or from
// the top left corner (the control then takes the clip's size, as Windows
// sizes it), over the window colour or, with kAnimTransparent, over whatever
// lies behind it.
#include <QImage>
#include <QTimer>
#include <QWidget>
#include <cstdint>
#include <vector>

#include "platform/ui/resources.h"

namespace platform::ui {

QImage imageOf(const Picture& picture);  // empty for a malformed picture

class AnimationWidget final : public QWidget {
 public:
  AnimationWidget(QWidget* parent, uint32_t style);
  // A clip to show (its first frame; playing it with kAnimAutoPlay), or
  // nullptr to close; false when the clip has no frames.
  bool open(const Animation* clip);
  // Plays frames from..to (to 0xFFFF: the last), `repeat` times (0xFFFF or
  // -1: for ever); false when no clip is open or the frames are out of range.
  bool play(uint32_t repeat, uint32_t from, uint32_t to);
  void stop();
  bool playing() const { return timer_.isActive(); }
  int frame() const { return frame_; }  // -1 when closed

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void advance();

  uint32_t style_;
  std::vector<QImage> frames_;
  int frameMs_ = 100;
  QTimer timer_;
  int frame_ = -1;
  int from_ = 0;
  int to_ = 0;
  bool forever_ = false;
  uint32_t repeatsLeft_ = 0;
};

}  // namespace platform::ui
