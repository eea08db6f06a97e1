#include "app/directory_list.h"

#include "app/qt_text.h"
#include "text/files.h"
#include "platform/os.h"

#include <QHeaderView>
#include <QStyle>

#include <algorithm>

namespace borvantel::app {
namespace {

constexpr int kPathRole = Qt::UserRole;

QTreeWidgetItem* entry(const std::string& path, const std::string& name, const QIcon& icon) {
  auto* item = new QTreeWidgetItem(QStringList{fromFileName(name)});
  item->setIcon(0, icon);
  item->setData(0, kPathRole, QByteArray::fromStdString(path));
  item->setToolTip(0, fromFileName(path));
  return item;
}

}  // namespace

DirectoryList::DirectoryList(QWidget* parent) : QTreeWidget(parent) {
  setHeaderHidden(true);
  setColumnCount(1);
  setRootIsDecorated(false);
  setItemsExpandable(false);
  setIndentation(style()->pixelMetric(QStyle::PM_SmallIconSize) / 2 + 2);
  setUniformRowHeights(true);
  setSelectionMode(QAbstractItemView::SingleSelection);
  connect(this, &QTreeWidget::itemActivated, this, [this](QTreeWidgetItem* item) {
    const QByteArray path = item->data(0, kPathRole).toByteArray();
    if (path.toStdString() != directory_) emit openRequested(path);
  });
}

void DirectoryList::drawBranches(QPainter*, const QRect&, const QModelIndex&) const {
  // No expand and collapse marks: the indentation alone shows the nesting.
}

void DirectoryList::showDirectory(const std::string& dir, const std::vector<std::string>& entries) {
  directory_ = dir;
  clear();
  const QIcon open = style()->standardIcon(QStyle::SP_DirOpenIcon);
  const QIcon closed = style()->standardIcon(QStyle::SP_DirClosedIcon);

  // The chain "/", "/home", "/home/user" ... (on Windows "C:\\", "C:\\trasa"
  // ...) each below the one above it.
  size_t pos = std::max<size_t>(platform::rootLength(dir), 1);
  const std::string root = dir.substr(0, std::min(pos, dir.size()));
  QTreeWidgetItem* current = entry(root, root, open);
  addTopLevelItem(current);
  while (pos < dir.size()) {
    size_t slash = pos;
    while (slash < dir.size() && !platform::isPathSeparator(dir[slash])) ++slash;
    if (slash > pos) {
      auto* child = entry(dir.substr(0, slash), dir.substr(pos, slash - pos), open);
      current->addChild(child);
      current = child;
    }
    pos = slash + 1;
  }
  for (const std::string& path : entries) {
    current->addChild(entry(path, path.substr(text::nameStart(path)), closed));
  }
  expandAll();
  setCurrentItem(current);
  scrollToItem(current, QAbstractItemView::PositionAtTop);
}

}  // namespace borvantel::app
