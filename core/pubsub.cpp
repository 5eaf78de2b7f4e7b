// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/pubsub.h"

#include <chrono>

#include "core/threadcheck.h"

double CDataSource::timestamp_correction = 0;

void CPrioritizedList::Node::Dequeue() {
    if (!next) return;
    prev->next = next;
    next->prev = prev;
    next = prev = nullptr;
}

CPrioritizedList::CPrioritizedList() {
    m_head.next = m_head.prev = &m_head;
    m_head.priority = INT_MAX;
}

CPrioritizedList::~CPrioritizedList() {
    // Leave no node pointing at a dead sentinel.
    while (!IsEmpty()) m_head.next->Dequeue();
}

void CPrioritizedList::Enqueue(Node* node) {
    node->Dequeue();
    // Walk back from the end past every node of lower priority, so that equal
    // priorities keep their arrival order.
    Node* after = m_head.prev;
    while (after != &m_head && after->priority < node->priority) after = after->prev;
    node->prev = after;
    node->next = after->next;
    after->next->prev = node;
    after->next = node;
}

CDataSource::~CDataSource() {
    for (auto* n = m_list.First(); n != m_list.End(); n = m_list.First()) {
        static_cast<callback*>(n)->source = nullptr;
        n->Dequeue();
    }
}

void CDataSource::callback::attach(CDataSource& src, Function fn, void* ctx, int prio) {
    detach();
    function = fn;
    context = ctx;
    priority = prio;
    source = &src;
    src.m_list.Enqueue(this);
}

void CDataSource::callback::detach() {
    if (!source) return;
    source->Unlinking(this);
    Dequeue();
    source = nullptr;
}

void CDataSource::Unlinking(CPrioritizedList::Node* node) {
    for (Cursor* c = m_cursor; c; c = c->outer)
        if (c->next == node) c->next = node->next;
}

void CDataSource::Release() {
    if (m_cursor)
        m_releasePending = true;
    else
        delete this;
}

void CDataSource::Dispatch(void* data) {
    NV_ASSERT_GUI_THREAD();
    m_timestamp = 0;
    Cursor cursor{m_list.First(), m_cursor};
    m_cursor = &cursor;
    while (cursor.next != m_list.End()) {
        auto* cb = static_cast<callback*>(cursor.next);
        cursor.next = cb->next;
        cb->function(cb->context, data);
    }
    m_cursor = cursor.outer;
    if (!m_cursor && m_releasePending) delete this;
}

double CDataSource::Now() {
    if (s_replayNow != 0) return s_replayNow;
    using namespace std::chrono;
    const auto ms = duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
    return double(ms) / 1000.0;
}

double CDataSource::Timestamp() {
    if (m_timestamp == 0) m_timestamp = Now() + timestamp_correction;
    return m_timestamp;
}
