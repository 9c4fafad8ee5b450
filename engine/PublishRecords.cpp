// Saving the version records while an operation runs: a run that is killed, or whose terminal
// is closed, keeps the records of the files it has sent.
#include "engine/PublishOperator.h"

#include "store/PrjCls.h"

namespace {

// The shortest time between two saves of a running operation.
constexpr qint64 RecordsSaveIntervalMs = 3000;
// A large project takes a while to save: at least this many times that long passes between
// two saves, so saving never costs more than a twentieth of the worker's time.
constexpr qint64 SaveCostFactor = 20;

} // namespace

void TPublishOperator::SaveRecordsIfDue()
{
    if (!SaveRecordsAsItGoes || !m_recordsChanged)
        return;
    if (m_sinceSave.isValid()
        && m_sinceSave.elapsed() < qMax(RecordsSaveIntervalMs, m_saveCostMs * SaveCostFactor))
        return;
    // A project that has no file yet gets its name from the front end's save at the end.
    if (Project->FileName.isEmpty())
        return;
    QElapsedTimer cost;
    cost.start();
    m_recordsChanged = false;
    try {
        // Not brought back when it was deleted meanwhile.
        Project->Save(true);
        ++RecordSaves;
    } catch (const std::exception &error) {
        // Once: the next tries (a full disk may get room again) would say the same.
        if (!m_saveFailed)
            AddError(ErrorText(error));
        m_saveFailed = true;
    }
    m_saveCostMs = cost.elapsed();
    m_sinceSave.start();
}
