#include "update_job.h"

#include <QFile>

#include "get_set.h"

namespace update_job {

ImageStep checkImage(const QString &path) {
    ImageStep step;
    step.image = read_firmware_image(QFile::encodeName(path).constData());
    if (step.ok()) {
        step.version = QString::fromStdString(image_version_text(step.check().header));
    } else {
        // What is wrong first, in plain words; then the numbers that show it.
        const QString numbers = QString::fromStdString(image_problem_text(step.check()));
        const QString summary = QString::fromStdString(image_problem_summary(step.check()));
        if (summary.isEmpty()) {
            step.problem = numbers;
        } else {
            const bool of_the_file = step.check().problem == ImageProblem::HeaderShort ||
                                     step.check().problem == ImageProblem::PayloadShort;
            step.problem =
                QStringLiteral("is %1; %2%3")
                    .arg(summary, of_the_file ? QStringLiteral("it ") : QString(), numbers);
        }
    }
    return step;
}

backup_file::Written backUp(Before &before, const BackupRequest &request, const QDate &today) {
    const QByteArray text = backup_file::fileText(before.settings, before.serial);
    const backup_file::Written written =
        request.path.isEmpty()
            ? backup_file::writeUnderNewName(
                  backup_file::defaultName(before.settings, before.serial, today), text)
            : backup_file::writeNamed(request.path, text, request.replace);
    before.backup_path = written.ok() ? written.path : QString();
    return written;
}

QString Transfer::reasonText() const {
    switch (failure) {
    case TransferFailure::None:
        return {};
    case TransferFailure::LostUnit:
        return QStringLiteral("The unit went away or stopped answering after %1 of %2 bytes.")
            .arg(result.bytes_confirmed)
            .arg(result.bytes_total);
    case TransferFailure::FileError:
        return QStringLiteral("The image file had not passed its check; nothing was sent.");
    case TransferFailure::EraseRefused:
        return QStringLiteral("The unit refused the erase or did not confirm it (%1 of %2 blocks "
                              "erased); nothing was written.")
            .arg(blocks_erased)
            .arg(blocks_needed);
    case TransferFailure::UnexpectedReply:
        return QStringLiteral("The unit's reply to a write was not the one expected (%1 of %2 "
                              "bytes confirmed).")
            .arg(result.bytes_confirmed)
            .arg(result.bytes_total);
    }
    return {};
}

namespace {

struct Following {
    const Progress *progress;
    uint32_t blocks_erased = 0;
};

void follow(uint32_t current, uint32_t total, int phase, void *user_data) {
    auto *following = static_cast<Following *>(user_data);
    if (phase == 0) {
        following->blocks_erased = current;
    }
    if (*following->progress) {
        (*following->progress)(current, total, phase);
    }
}

} // namespace

Transfer transfer(CommsManager *comms, const FirmwareImage &image, const Progress &progress,
                  const FwCancelFlag *cancel) {
    Transfer transfer;
    transfer.blocks_needed = image.check.blocks_needed;
    Following following{&progress};
    transfer.result = send_fw_image(comms, image, follow, &following, cancel);
    transfer.blocks_erased = following.blocks_erased;
    if (transfer.result.end != FwTransferEnd::Failed) {
        return transfer;
    }
    // Where it stopped, and what is still there, tell why.
    if (!image.check.ok()) {
        transfer.failure = TransferFailure::FileError;
    } else if (comms == nullptr || !comms->isConnected() || comms->linkLost()) {
        transfer.failure = TransferFailure::LostUnit;
    } else if (transfer.blocks_erased < transfer.blocks_needed) {
        transfer.failure = TransferFailure::EraseRefused;
    } else {
        transfer.failure = TransferFailure::UnexpectedReply;
    }
    return transfer;
}

bool Transfer::leftIncomplete() const {
    // Once a block was erased, the image the unit starts from is gone until the new one is
    // written whole. A unit that went away or answered wrongly may have erased one unconfirmed;
    // a refused file or a refused first erase left the old image as it was.
    if (result.end == FwTransferEnd::Completed) {
        return false;
    }
    return blocks_erased > 0 || result.bytes_confirmed > 0 ||
           failure == TransferFailure::LostUnit || failure == TransferFailure::UnexpectedReply;
}

unit_locator::Target returnTarget(CommsManager *comms) {
    return unit_locator::targetOf(comms);
}

bool rebootAndLetGo(CommsManager *comms) {
    if (!reboot_unit(comms)) {
        return false;
    }
    if (USBHID *usb = comms->getUSBHID()) {
        usb->disconnect();
    }
    if (CANFD *canfd = comms->getCANFD()) {
        canfd->disconnect();
    }
    return true;
}

RestorePlan restorePlan(const Settings_t &backup, const Settings_t &now) {
    RestorePlan plan;
    plan.target = now;
    for (const settings_struct_index index : allSettingsFields()) {
        if (settings_get_value(&backup, index) != settings_get_value(&now, index)) {
            plan.fields.insert(index);
        }
    }
    if (anyRegistrationWordIn(plan.fields)) {
        plan.fields.insert(std::begin(REGISTRATION_WORDS), std::end(REGISTRATION_WORDS));
    }
    for (const settings_struct_index index : plan.fields) {
        const uint32_t value = settings_get_value(&backup, index);
        settings_set_value(&plan.target, index, &value);
    }
    return plan;
}

namespace {

std::vector<settings_file::Difference> rowsBetween(const Settings_t &before,
                                                   const Settings_t &now) {
    const RestorePlan plan = restorePlan(before, now);
    std::vector<settings_file::Difference> rows = settings_file::differences(before, now);
    // A field whose words differ though its text reads the same (bits no choice shows, a NaN
    // turned infinite) is listed by its words.
    FieldSet shown;
    for (const settings_file::Difference &row : rows) {
        shown.insert(row.index);
    }
    const std::vector<settings_file::Entry> entries = settings_file::entries(now);
    for (const settings_struct_index index : plan.fields) {
        if (shown.count(index) != 0 ||
            (anyRegistrationWordIn(FieldSet{index}) && anyRegistrationWordIn(shown))) {
            continue;
        }
        QString key = QString::number(static_cast<int>(index));
        for (const settings_file::Entry &entry : entries) {
            if (entry.index == index) {
                key = entry.key;
                break;
            }
        }
        shown.insert(index);
        rows.push_back({key, index, settings_file::hexWord(settings_get_value(&before, index)),
                        settings_file::hexWord(settings_get_value(&now, index))});
    }
    // Rows the texts found where no word differs (none today) are not changes.
    std::vector<settings_file::Difference> kept;
    for (const settings_file::Difference &row : rows) {
        if (plan.fields.count(row.index) != 0) {
            kept.push_back(row);
        }
    }
    return kept;
}

} // namespace

std::vector<settings_file::Difference> changes(const Before &before, const Settings_t &now) {
    if (!before.has_settings) {
        return {};
    }
    return rowsBetween(before.settings, now);
}

Comparison compare(const Before &before, const Settings_t &now) {
    // Without a backup only the values sent are known: every other field is taken as it is now.
    Settings_t then = before.has_settings ? before.settings : now;
    FieldSet unsaved;
    for (const auto &[index, word] : before.unstored) {
        settings_set_value(&then, index, &word);
        unsaved.insert(index);
    }
    // The registration is one text: sent as one, lost as one.
    if (anyRegistrationWordIn(unsaved)) {
        unsaved.insert(std::begin(REGISTRATION_WORDS), std::end(REGISTRATION_WORDS));
    }
    Comparison comparison;
    comparison.plan = restorePlan(then, now);
    for (const settings_file::Difference &row : rowsBetween(then, now)) {
        (unsaved.count(row.index) != 0 ? comparison.unsaved : comparison.changed).push_back(row);
    }
    return comparison;
}

} // namespace update_job
