#include "ftp/transfer/job_lists.h"

#include "ftp/session/reply_parser.h"
#include "support/text.h"

namespace pellan {

std::vector<std::string> SplitBar(const std::string& list) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    const size_t bar = list.find('|', start);
    parts.push_back(list.substr(start, bar == std::string::npos ? std::string::npos : bar - start));
    if (bar == std::string::npos) return parts;
    start = bar + 1;
  }
}


bool IsFolderItem(const std::string& item) { return (!item.empty() && item.back() == '/') || HasWildcard(item); }

JobItems SplitJob(const std::string& sources, const std::string& targets) {
  JobItems job;
  const std::vector<std::string> s = SplitBar(sources), t = SplitBar(targets);
  for (size_t i = 0; i < s.size(); ++i) {
    const std::string source = TrimBlanks(s[i]);
    if (source.empty()) continue;
    JobItem item{source, i < t.size() ? TrimBlanks(t[i]) : std::string(), i < t.size()};
    (IsFolderItem(source) ? job.folders : job.files).push_back(std::move(item));
  }
  return job;
}

std::vector<std::string> JobItems::Sources(const std::vector<JobItem>& items) {
  std::vector<std::string> out;
  for (const JobItem& i : items) out.push_back(i.source);
  return out;
}

std::vector<std::string> JobItems::Targets(const std::vector<JobItem>& items) {
  std::vector<std::string> out;
  // Only the items the list had: one folder named for several files must stay
  // the only target, so that every file goes into it.
  for (const JobItem& i : items) {
    if (i.hasTarget) out.push_back(i.target);
  }
  return out;
}

std::vector<std::string> JobItems::FileTargetsOr(const std::vector<std::string>& fallback) const {
  for (const JobItem& i : files) {
    if (!i.target.empty()) return Targets(files);
  }
  return fallback;
}

}  // namespace pellan
