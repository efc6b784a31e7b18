#include "app/commands.h"

#include "link/registerimage.h"

#include "common/logging.h"
#include "common/numbers.h"

#include <QComboBox>

namespace station::commands {

std::optional<std::int32_t> numericValue(const QString &text)
{
    const double number = leadingNumber(text);
    if (number > kHighest || number < kLowest)
        return std::nullopt;
    return toInt32(number);
}

namespace {

QVariant tagFor(link::WriteTag tag, const QString &entered)
{
    if (tag.window.isEmpty())
        return QVariant();
    tag.entered = entered;
    return link::tagged(std::move(tag));
}

} // namespace

bool numericWrite(const QString &text, std::int32_t reg, link::WriteTag tag)
{
    const auto value = numericValue(text);
    if (!value)
        return false;
    writeWithRetry(reg, *value, tagFor(std::move(tag), text));
    return true;
}

bool runCommandWrite(QComboBox *box, link::WriteTag tag)
{
    if (!box)
        return false;
    const QString entered = box->currentText();
    int option = box->findText(box->currentText(), Qt::MatchExactly);
    if (option < 0 && box->currentIndex() >= 0 && box->currentText() == QString::number(box->currentIndex()))
        option = box->currentIndex();
    if (option < 0)
        return false;
    box->setCurrentIndex(option);
    box->setEditText(QString::number(option));
    const auto value = toInt32(leadingNumber(box->currentText()));
    if (!value)
        return false;
    writeWithRetry(reg::kRunCommand, *value, tagFor(std::move(tag), entered));
    return true;
}

} // namespace station::commands
