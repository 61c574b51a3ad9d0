// What a download asks between attempts and before every chunk: whether
// the transfer is to stop (the patch window's Cancel).
#pragma once

class DownloadURLCallback {
 public:
  virtual ~DownloadURLCallback() = default;
  virtual bool StopRequested() = 0;
};
