// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Typed publish/subscribe. Everything here runs on the GUI thread: producers dispatch
// there, and callbacks run synchronously inside Dispatch.

#include <climits>

// Circular doubly linked list with a sentinel of the highest priority. Nodes run in
// descending priority; equal priorities keep the order in which they were enqueued.
class CPrioritizedList {
public:
    struct Node {
        Node* next = nullptr;
        Node* prev = nullptr;
        int priority = 0;

        bool IsLinked() const { return next != nullptr; }
        // Unlinks the node from whatever list holds it; harmless when unlinked.
        void Dequeue();
    };

    CPrioritizedList();
    CPrioritizedList(const CPrioritizedList&) = delete;
    CPrioritizedList& operator=(const CPrioritizedList&) = delete;
    ~CPrioritizedList();

    void Enqueue(Node* node);
    bool IsEmpty() const { return m_head.next == &m_head; }
    Node* First() { return m_head.next; }
    const Node* End() const { return &m_head; }

private:
    Node m_head;
};

// The dispatcher of one data type.
class CDataSource {
public:
    using Function = void (*)(void* context, void* data);

    struct callback : CPrioritizedList::Node {
        Function function = nullptr;
        void* context = nullptr;
        CDataSource* source = nullptr;

        callback() = default;
        callback(const callback&) = delete;
        callback& operator=(const callback&) = delete;
        ~callback() { detach(); }

        void attach(CDataSource& src, Function fn, void* ctx, int prio = 0);
        void detach();
    };

    CDataSource() = default;
    CDataSource(const CDataSource&) = delete;
    CDataSource& operator=(const CDataSource&) = delete;
    ~CDataSource();

    // Calls every attached callback in list order. A callback may detach itself or any
    // other callback, and may delete this source through its last listener: the walk
    // survives both.
    void Dispatch(void* data);

    // One timestamp per dispatch: the first call in a dispatch reads the clock (plus
    // timestamp_correction), later calls in the same dispatch return the same value.
    double Timestamp();

    bool IsEmpty() const { return m_list.IsEmpty(); }
    bool IsDispatching() const { return m_cursor != nullptr; }

    // Deletes the source now, or at the end of the dispatch that is running on it.
    void Release();

    // GPS fix time minus the local clock, in seconds; 0 until a real fix sets it.
    static double timestamp_correction;

    // The local clock in seconds since the epoch, with millisecond resolution.
    static double Now();
    // Replays run the application by the times of a recorded log: while a time is set
    // here, Now() (and so the heartbeat's clock) returns it. 0 restores the real clock.
    static void SetReplayClock(double seconds) { s_replayNow = seconds; }
    static double ReplayClock() { return s_replayNow; }

private:
    friend struct callback;
    struct Cursor {
        CPrioritizedList::Node* next;
        Cursor* outer;
    };
    void Unlinking(CPrioritizedList::Node* node);

    static inline double s_replayNow = 0;

    double m_timestamp = 0;
    CPrioritizedList m_list;
    Cursor* m_cursor = nullptr;  // innermost running dispatch
    bool m_releasePending = false;
};

// Base of every consumer of data type T. The first listener of T creates the data
// source of T and the last one to go deletes it; producers test pDatasource to learn
// whether anybody listens.
template <class T>
class Listener {
public:
    virtual void OnUpdate(T& value) = 0;

    Listener() { Connect(); }
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;
    virtual ~Listener() { Disconnect(); }

    void Connect() {
        if (m_callback.source) return;
        if (!pDatasource) pDatasource = new CDataSource;
        m_callback.attach(*pDatasource, &Listener::Thunk, this, 0);
    }

    void Disconnect() {
        CDataSource* src = m_callback.source;
        if (!src) return;
        m_callback.detach();
        if (src->IsEmpty()) {
            if (pDatasource == src) pDatasource = nullptr;
            src->Release();
        }
    }

    bool IsConnected() const { return m_callback.source != nullptr; }

    // Publishes a value to every listener of T; does nothing when nobody listens.
    static void Publish(T& value) {
        if (pDatasource) pDatasource->Dispatch(&value);
    }

    static inline CDataSource* pDatasource = nullptr;

private:
    static void Thunk(void* context, void* data) { static_cast<Listener*>(context)->OnUpdate(*static_cast<T*>(data)); }

    CDataSource::callback m_callback;
};
