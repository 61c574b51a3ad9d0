#include "app/gui/AppIcon.h"

#include <wx/bitmap.h>
#include <wx/image.h>
#include <wx/mstream.h>

#include <cstddef>

namespace NolkPatch {

#ifdef __WXMSW__

// The Windows programs carry the icon as the resource "nolkIcon" (their
// resource script); the toolkit there is built without PNG.
wxIcon LoadNolkIcon() {
  return wxIcon(wxT("nolkIcon"), wxBITMAP_TYPE_ICO_RESOURCE, 32, 32);
}

#else

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

#endif

}  // namespace NolkPatch
