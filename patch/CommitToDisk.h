// Forcing the files a patch wrote into the installation to the disk before
// the patch commits.
//
// Crash safety of a patch run rests on two things:
//  - Until the commit, every file the run replaces or removes is kept as
//    its ".pbk" backup: a rename of an old file that is already on the
//    disk. Nothing old is overwritten in place. Whatever state a crash
//    leaves (a new file that is empty or missing, a stray temporary of the
//    diff tool), the backup is there, "IsPatching" is still set, and the
//    next run moves the backups back before it starts (PatchRecovery.h).
//    So nothing written before the commit needs to be on the disk for the
//    rollback to work, and neither the unpacked patch folder (rebuilt from
//    the archive after a crash) nor the diff tool forces its files out.
//  - The commit drops the backups and then clears "IsPatching". From then
//    on the new files are the only copy, so they must be on the disk before
//    the first backup goes: every added and rebuilt file is forced out and
//    waited for (the uninstaller log forces its own replacement). Journaling
//    file systems such as ext4 and XFS keep the order of renames, creations
//    and removals, and forcing a file out commits the journal with every
//    such change made before it, so a backup cannot be found gone after a
//    crash while the renames that preceded it are lost. (Folders cannot be
//    forced through the platform layer; a file system without that ordering
//    would need a sync of the folders or of the whole file system here.)
//
// The files are forced by several threads at once, while the run goes on:
// each added file as soon as the added step is done, each rebuilt file as
// soon as its checksum is confirmed. Forcing waits mostly for the device,
// and concurrent requests share the journal commits and the device queue,
// so a batch of them costs about as much as one sync of the whole file
// system (roughly ten times less than one after another), and most of it
// passes while the diff tools run; the commit only waits for the rest.
//
// A file that a later step of the run may still move (an added file that
// the deleted or patched list names too, a rebuilt file that a later
// patched entry names again) is forced only at the commit: a rename refuses
// a file that is open (EngineFileOps.h), and a forcing thread holds the file
// open for a moment.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace NolkPatch {

class DiskForcer {
 public:
  DiskForcer() = default;
  // Drops what is still queued and waits for the files being forced.
  ~DiskForcer();
  DiskForcer(const DiskForcer&) = delete;
  DiskForcer& operator=(const DiskForcer&) = delete;

  // Queues a file whose contents are final. A file that no longer exists
  // when its turn comes (added, then deleted by the same patch) has nothing
  // to force.
  void Add(const std::wstring& path);
  // Queues a file when Finish is called, after every step is done.
  void AddAtFinish(const std::wstring& path);
  // Waits until every queued file is forced. False when one could not be;
  // `failed` is then the first such file in the order queued.
  bool Finish(std::wstring& failed);

 private:
  void StartHelperIfUseful();
  void Work();
  // Next queued index under the lock, or false when there is none (and,
  // unless closing, after waiting for one).
  bool NextFile(std::size_t& index, std::wstring& path);

  std::mutex m_mutex;
  std::condition_variable m_queued;
  std::vector<std::wstring> m_files;
  std::vector<std::wstring> m_atFinish;  // touched by the owner only
  std::vector<char> m_failed;            // per file, written under the lock
  std::size_t m_next = 0;
  bool m_closing = false;
  std::vector<std::thread> m_helpers;
};

// Forces every listed file to the disk (DiskForcer, all at once).
bool ForceFilesToDisk(const std::vector<std::wstring>& files, std::wstring& failed);

}  // namespace NolkPatch
