#include "engine/keep/run_keepers.h"

#include "core/text_ops.h"

#include <utility>

namespace quillet::engine {

bool RunWrites(std::uint8_t operation, bool dryRun) {
    return operation != core::OpOnlySearch && !dryRun;
}

RunKeepers::RunKeepers(RunKeepersOptions options) {
    if (!options.Writes)
        return;
    if (options.Journal) {
        JournalOptions journal = JournalOptionsFromEnvironment(std::move(options.Description));
        journal.Dropped = options.Dropped;
        journal.OnNotKept = std::move(options.OnNotKept);
        m_journal.emplace(std::move(journal));
        m_chain.add(*m_journal);
    }
    if (options.BackupSuffix) {
        m_backups.emplace(*options.BackupSuffix);
        m_chain.add(*m_backups);
    }
}

RunKeepers::~RunKeepers() {
    finish();
}

void RunKeepers::finish() noexcept {
    if (m_finished)
        return;
    m_finished = true;
    if (m_journal)
        m_journal->finish();
}

const std::string& RunKeepers::journalId() const {
    static const std::string none;
    return m_journal ? m_journal->id() : none;
}

} // namespace quillet::engine
