#include "platform/ui/animation_qt.h"

#include <QPainter>
#include <algorithm>
#include <cstring>

#include "platform/ui/dialog_template.h"

namespace platform::ui {

QImage imageOf(const Picture& picture) {
  if (picture.width <= 0 || picture.height <= 0 ||
      picture.pixels.size() < static_cast<size_t>(picture.width) * static_cast<size_t>(picture.height)) {
    return {};
  }
  QImage image(picture.width, picture.height, QImage::Format_ARGB32);
  for (int y = 0; y < picture.height; ++y) {
    std::memcpy(image.scanLine(y), picture.pixels.data() + static_cast<size_t>(y) * static_cast<size_t>(picture.width),
                static_cast<size_t>(picture.width) * sizeof(uint32_t));
  }
  return image;
}

AnimationWidget::AnimationWidget(QWidget* parent, uint32_t style) : QWidget(parent), style_(style) {
  QObject::connect(&timer_, &QTimer::timeout, this, [this] { advance(); });
}

bool AnimationWidget::open(const Animation* clip) {
  timer_.stop();
  frames_.clear();
  frame_ = -1;
  if (clip != nullptr) {
    for (const Picture& picture : clip->frames) {
      QImage image = imageOf(picture);
      if (image.isNull()) {
        frames_.clear();
        break;
      }
      frames_.push_back(std::move(image));
    }
  }
  update();
  if (frames_.empty()) return clip == nullptr;
  frameMs_ = static_cast<int>(std::max<uint32_t>(clip->frameMs, 10));
  frame_ = 0;
  if ((style_ & kAnimCenter) == 0) resize(frames_.front().size());
  if ((style_ & kAnimAutoPlay) != 0) play(0xFFFF, 0, 0xFFFF);
  return true;
}

bool AnimationWidget::play(uint32_t repeat, uint32_t from, uint32_t to) {
  const auto count = static_cast<uint32_t>(frames_.size());
  if (to == 0xFFFF) to = count - 1;
  if (frames_.empty() || from >= count || to >= count || from > to) return false;
  from_ = static_cast<int>(from);
  to_ = static_cast<int>(to);
  forever_ = (repeat & 0xFFFF) == 0xFFFF;
  repeatsLeft_ = std::max<uint32_t>(repeat & 0xFFFF, 1) - 1;
  frame_ = from_;
  update();
  timer_.start(frameMs_);
  return true;
}

void AnimationWidget::stop() { timer_.stop(); }

void AnimationWidget::advance() {
  if (frame_ < to_) {
    ++frame_;
  } else if (forever_ || repeatsLeft_ > 0) {
    if (!forever_) --repeatsLeft_;
    frame_ = from_;
  } else {
    timer_.stop();
    return;
  }
  update();
}

void AnimationWidget::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  if ((style_ & kAnimTransparent) == 0) painter.fillRect(rect(), palette().base());
  if (frame_ < 0 || frame_ >= static_cast<int>(frames_.size())) return;
  const QImage& image = frames_[static_cast<size_t>(frame_)];
  const QPoint at = (style_ & kAnimCenter) != 0
                        ? QPoint((width() - image.width()) / 2, (height() - image.height()) / 2)
                        : QPoint(0, 0);
  painter.drawImage(at, image);
}

}  // namespace platform::ui
