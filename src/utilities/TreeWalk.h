#pragma once

#include <string>

namespace utilities {

// What a visitor wants the walk to do next.
enum class WalkControl {
  proceed, // go on (into the directory, for enterDirectory)
  skip,    // do not descend into this directory (enterDirectory only)
  stop,    // end the walk
};

// Callbacks of walkTree. Every item is named by the descriptor of its parent folder and its
// name there; the root is named by AT_FDCWD and the path given to walkTree.
class TreeVisitor {
public:
  virtual ~TreeVisitor() = default;
  // An item that is not a directory (symbolic links included; they are never followed).
  virtual WalkControl visitFile(int parentFd, const char* name) = 0;
  // A directory before its entries (which have been read already); `directoryFd` is open on
  // it for the call's duration.
  virtual WalkControl enterDirectory(int parentFd, const char* name, int directoryFd) = 0;
  // A directory after its entries (not called when enterDirectory skipped it).
  virtual WalkControl leaveDirectory(int parentFd, const char* name) = 0;
  // A directory that could not be opened or read, or that is its own ancestor (a cycle made
  // by a bind mount, ELOOP), with the errno value. Neither enter nor leave is called for it.
  virtual WalkControl failure(int parentFd, const char* name, int error) = 0;
};

// Walks the tree at `root` depth first without following any symbolic link (the root itself
// included) and without changing the working directory. Directories are opened relative to
// their parent with O_NOFOLLOW, so a link planted inside the tree never leads out of it. At most
// a fixed number of directories are held open: deeper trees are walked by reopening a parent
// through ".." and checking that it is still the same directory. Returns false when the root
// does not exist (errno set) or a visitor stopped the walk.
bool walkTree(const std::string& root, TreeVisitor& visitor);

} // namespace utilities
