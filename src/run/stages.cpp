#include "run/stages.h"

namespace borvantel::run {

const StageRow& stageRow(Stage stage) noexcept {
  for (const StageRow& row : kStageTable) {
    if (row.stage == stage) return row;
  }
  return kStageTable[0];
}

}  // namespace borvantel::run
