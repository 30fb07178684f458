#pragma once
// The picture an acquisition hands over: one snapshot block (a packed 24-bit
// DIB, bottom row first, blue-green-red) and what the application learns of
// it. A native transfer hands the block itself over; a memory transfer copies
// it out in strips of whole rows, top row first, red-green-blue, each row
// padded to a multiple of 4 bytes.
#include <windows.h>

#include "camera/dib.h"
#include "twain/capabilities.h"
#include "twain/manager_link.h"
#include "twain/twain_types.h"

namespace snaplark {

// The shape of a snapshot block; false when the block is not a packed
// bottom-up 24-bit DIB whose rows it holds in full.
bool ShapeOfSnapshot(HGLOBAL block, PictureShape& shape);

twain::TW_IMAGEINFO ImageInfoFor(const PictureShape& shape);
// The whole picture at 96 dots per inch; an empty frame while no picture is known.
twain::TW_IMAGELAYOUT ImageLayoutFor(const PictureShape& shape);
// Buffer sizes for a memory transfer: at least one row, at most the whole
// picture. Before a picture is known, room for a row of the widest frame a
// camera gives.
twain::TW_SETUPMEMXFER MemorySetupFor(const PictureShape& shape);

// Copies the next strip (from `nextRow`, counted from the top) into the
// application's buffer and advances `nextRow`. XFERDONE with the last strip;
// a buffer that holds no whole row is a bad value.
TwainAnswer CopyNextStrip(HGLOBAL block, const PictureShape& shape, twain::TW_IMAGEMEMXFER& request,
                          twain::TW_UINT32& nextRow, const ManagerLink& memory);

}  // namespace snaplark
