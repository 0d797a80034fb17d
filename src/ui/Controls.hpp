// The main window's controls, as the update chain sees them: small objects
// with state. The toolkit binding shows that state and is told of every
// change through OnChange; tests read the state directly.
#pragma once

#include <functional>
#include <stdexcept>
#include <string>

namespace ui {

/// A property was given a value outside its range.
class EInvalidOperation : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class Control {
 public:
  /// Called after every change of the control's state (set by the toolkit binding).
  std::function<void()> OnChange;

 protected:
  void Changed() const {
    if (OnChange) OnChange();
  }
};

/// The check button.
class TButton : public Control {
 public:
  explicit TButton(std::string caption) : caption_(std::move(caption)) {}
  const std::string& Caption() const { return caption_; }
  bool Visible() const { return visible_; }
  void SetVisible(bool visible) {
    visible_ = visible;
    Changed();
  }
  /// The handler of a press (click, Enter or Space while focused).
  std::function<void()> OnClick;

 private:
  std::string caption_;
  bool visible_ = true;
};

/// A one-line text, sized to its text.
class TLabel : public Control {
 public:
  const std::string& Caption() const { return caption_; }
  void SetCaption(std::string caption) {
    caption_ = std::move(caption);
    Changed();
  }

 private:
  std::string caption_;
};

/// A horizontal progress bar. The position always lies within Min..Max: a
/// position outside is clamped, as the native control does.
class TProgressBar : public Control {
 public:
  int Min() const { return min_; }
  int Max() const { return max_; }
  int Position() const { return position_; }

  /// Throws EInvalidOperation, changing nothing, when `max` is below Min.
  void SetMax(int max) {
    if (max < min_) throw EInvalidOperation("Property value out of range");
    max_ = max;
    if (position_ > max_) position_ = max_;
    Changed();
  }
  void SetPosition(int position) {
    position_ = position < min_ ? min_ : position > max_ ? max_ : position;
    Changed();
  }

 private:
  int min_ = 0;
  int max_ = 100;
  int position_ = 0;
};

}  // namespace ui
