// Dir1: the current directory with the directories above it and, below it,
// its subdirectories (the entries the run gives). Opening an entry (double
// click or Enter) asks for that directory; the window decides whether the
// list moves there.
#pragma once

#include <QTreeWidget>

#include <string>
#include <vector>

namespace borvantel::app {

class DirectoryList : public QTreeWidget {
  Q_OBJECT

 public:
  explicit DirectoryList(QWidget* parent);

  // Shows `dir` (native, without trailing separator but "/" itself) with its
  // ancestors and `entries` (full paths of its subdirectories, in list order).
  void showDirectory(const std::string& dir, const std::vector<std::string>& entries);
  const std::string& directory() const noexcept { return directory_; }

 signals:
  void openRequested(const QByteArray& path);

 protected:
  void drawBranches(QPainter* painter, const QRect& rect, const QModelIndex& index) const override;

 private:
  std::string directory_;
};

}  // namespace borvantel::app
