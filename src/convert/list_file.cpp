#include "convert/list_file.h"

namespace borvantel::convert {
namespace {

constexpr std::string_view kEnd = "END ";

}  // namespace

ListWriter::ListWriter(const std::string& path, std::string_view header, text::TempFileLog* log)
    : file_(path, text::AtomicFile::kNewFileMode, log) {
  file_.write(header);
}

void ListWriter::add(std::initializer_list<std::string_view> fields) {
  // One write per entry, whatever the number of its fields.
  entry_.clear();
  for (const std::string_view field : fields) entry_.append(field).push_back('\0');
  file_.write(entry_);
  ++count_;
}

void ListWriter::finish() {
  file_.write(std::string(kEnd) + std::to_string(count_) + "\n");
  file_.finish(true);
}

void ListWriter::replaceTarget() { file_.replaceTarget(); }

bool readList(std::string_view data, std::string_view header, size_t fieldsPerEntry,
              const std::function<void(const std::vector<std::string_view>&)>& entry) {
  if (data.substr(0, header.size()) != header) return false;
  const size_t endAt = data.rfind(kEnd);
  if (endAt == std::string_view::npos || data.back() != '\n') return false;
  std::vector<std::string_view> fields(fieldsPerEntry);
  size_t count = 0;
  for (size_t at = header.size(); at < endAt; ++count) {
    for (std::string_view& field : fields) {
      const size_t end = data.find('\0', at);
      if (end == std::string_view::npos || end >= endAt) return false;
      field = data.substr(at, end - at);
      at = end + 1;
    }
    entry(fields);
  }
  return data.substr(endAt + kEnd.size()) == std::to_string(count) + "\n";
}

}  // namespace borvantel::convert
