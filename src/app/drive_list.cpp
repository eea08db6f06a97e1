#include "app/drive_list.h"

#include "app/platform.h"
#include "app/qt_text.h"

#include <QDir>
#include <QSignalBlocker>
#include <QStorageInfo>

#include <algorithm>

namespace borvantel::app {
namespace {

constexpr int kRootRole = Qt::UserRole;

// A root as the system writes it ("Z:\\", not Qt's "Z:/").
QString shownRoot(const QString& root) { return QDir::toNativeSeparators(root); }

// "C:\ [System]" on Windows, "/media/usb [USB]" elsewhere.
QString caption(const QStorageInfo& volume) {
  const QString root = shownRoot(volume.rootPath());
  const QString name = volume.name();
  return name.isEmpty() ? root : root + " [" + name + "]";
}

}  // namespace

DriveList::DriveList(QWidget* parent) : QComboBox(parent) {
  refresh();
  // Only a pick by the user asks for a volume; showing one from code does not.
  connect(this, &QComboBox::activated, this,
          [this](int index) { emit volumePicked(QByteArray::fromStdString(rootAt(index))); });
}

void DriveList::refresh() {
  QList<QStorageInfo> volumes = QStorageInfo::mountedVolumes();
  std::sort(volumes.begin(), volumes.end(), [](const QStorageInfo& a, const QStorageInfo& b) {
    if (a.isRoot() != b.isRoot()) return a.isRoot();
    return a.rootPath() < b.rootPath();
  });
  const QSignalBlocker block(this);
  clear();
  for (const QStorageInfo& volume : volumes) {
    if (findData(volume.rootPath(), kRootRole) >= 0) continue;  // mounted twice
    addItem(caption(volume), volume.rootPath());
  }
}

void DriveList::showPopup() {
  const QVariant shown = currentData(kRootRole);
  refresh();
  const QSignalBlocker block(this);
  const int index = findData(shown, kRootRole);
  if (index >= 0) {
    setCurrentIndex(index);
  } else if (shown.isValid()) {
    addItem(shownRoot(shown.toString()), shown);  // unmounted meanwhile: still the one shown
    setCurrentIndex(count() - 1);
  }
  QComboBox::showPopup();
}

void DriveList::showVolumeOf(const std::string& dir) {
  const QString root = QStorageInfo(fromFileName(dir)).rootPath();
  int index = findData(root, kRootRole);
  const QSignalBlocker block(this);
  if (index < 0 && !root.isEmpty()) {
    addItem(shownRoot(root), root);
    index = count() - 1;
  }
  setCurrentIndex(index);
}

std::string DriveList::rootAt(int index) const { return toNativePath(itemData(index, kRootRole).toString()); }

}  // namespace borvantel::app
