#include "MessageCount.h"

namespace {
MessageCount *g_current = nullptr;
}

MessageCount::MessageCount(const QString &text)
    : m_text(text)
{
    g_current = this;
    m_previous = qInstallMessageHandler(&MessageCount::handle);
}

MessageCount::~MessageCount()
{
    qInstallMessageHandler(m_previous);
    g_current = nullptr;
}

void MessageCount::handle(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (!g_current)
        return;
    if (message.contains(g_current->m_text))
        ++g_current->m_count;
    g_current->m_previous(type, context, message);
}
