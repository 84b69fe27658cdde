// The job lists of a transfer: "|"-separated sources (what to fetch or
// send) paired item by item with "|"-separated targets, split into folder
// items (ending in "/", or with "*" or "?") and file items.
#pragma once

#include <string>
#include <vector>

#include "support/text.h"

namespace pellan {

struct JobItem {
  std::string source;
  std::string target;
  bool hasTarget = false;  // the target list has an item here (maybe blank)
};

struct JobItems {
  std::vector<JobItem> folders;
  std::vector<JobItem> files;

  std::vector<std::string> FolderSources() const { return Sources(folders); }
  std::vector<std::string> FolderTargets() const { return Targets(folders); }
  std::vector<std::string> FileSources() const { return Sources(files); }
  // The targets the list gave for the files (a list shorter than the
  // sources gives fewer), or `fallback` when none of them names anything.
  std::vector<std::string> FileTargetsOr(const std::vector<std::string>& fallback) const;

 private:
  static std::vector<std::string> Sources(const std::vector<JobItem>& items);
  static std::vector<std::string> Targets(const std::vector<JobItem>& items);
};

// Splits the two lists into folder and file items, each kind in the order
// the list gave; empty source items are left out.
JobItems SplitJob(const std::string& sources, const std::string& targets);

std::vector<std::string> SplitBar(const std::string& list);
bool IsFolderItem(const std::string& item);

}  // namespace pellan
