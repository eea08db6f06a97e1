// Drive1: the mounted volumes, the root first. Picking one asks for it; the
// window decides whether Dir1 can move there.
#pragma once

#include <QComboBox>

#include <string>

namespace borvantel::app {

class DriveList : public QComboBox {
  Q_OBJECT

 public:
  explicit DriveList(QWidget* parent);

  // Reads the mounted volumes anew.
  void refresh();
  // Shows the volume that holds `dir` (adding it when it is not listed)
  // without asking for it.
  void showVolumeOf(const std::string& dir);
  // The root path of the volume at `index`.
  std::string rootAt(int index) const;

 signals:
  void volumePicked(const QByteArray& root);

 protected:
  // Volumes mounted since the last look are listed when the list opens.
  void showPopup() override;
};

}  // namespace borvantel::app
