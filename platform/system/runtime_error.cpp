#include "system/runtime_error.h"

#include "system/message_box.h"

RuntimeError::RuntimeError(int number, QString description)
    : m_number(number), m_description(std::move(description)), m_what(m_description.toUtf8())
{
}

RuntimeError RuntimeError::overflow()
{
    return {Overflow, QStringLiteral("Overflow")};
}

RuntimeError RuntimeError::invalidPropertyValue()
{
    return {InvalidPropertyValue, QStringLiteral("Invalid property value")};
}

QString describeFailure(const std::exception &failure)
{
    if (const auto *runtimeError = dynamic_cast<const RuntimeError *>(&failure))
        return runtimeError->description();
    return QString::fromLocal8Bit(failure.what());
}

void reportUntrappedFailure(const std::exception &failure)
{
    showMessageBox(describeFailure(failure), MsgBoxIcon::Exclamation);
}
