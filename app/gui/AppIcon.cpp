#include "app/gui/AppIcon.h"

#include <wx/bitmap.h>
#include <wx/image.h>
#include <wx/mstream.h>

#include <cstddef>

namespace NolkPatch {

extern const unsigned char kNolkIconPng[];
extern const std::size_t kNolkIconPngSize;

wxIcon LoadNolkIcon() {
  if (!wxImage::FindHandler(wxBITMAP_TYPE_PNG)) wxImage::AddHandler(new wxPNGHandler);
  wxMemoryInputStream stream(kNolkIconPng, kNolkIconPngSize);
  wxImage image(stream, wxBITMAP_TYPE_PNG);
  wxIcon icon;
  if (image.IsOk()) icon.CopyFromBitmap(wxBitmap(image));
  return icon;
}

}  // namespace NolkPatch
