#pragma once
// Where the live preview draws a frame inside its control: the whole frame,
// scaled with its aspect ratio kept, centred, the rest left black.
namespace snaplark {

struct PreviewRect {
  int x = 0, y = 0, width = 0, height = 0;
  bool operator==(const PreviewRect&) const = default;
};

// Computed in single precision, as the preview has always done it, so that
// the rounding of the edge cases (a 640 x 480 frame 352 wide in a 264-high
// control) stays the same: frame aspect a = fw / fh, control aspect
// r = cw / ch; a wider frame fills the width, any other (also r not a number,
// for an empty control) fills the height. A control without width or height
// gives a 0 x 0 rectangle.
PreviewRect FitPreview(int frameWidth, int frameHeight, int clientWidth, int clientHeight);

}  // namespace snaplark
