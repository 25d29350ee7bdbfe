// The main frame's command socket: a Unix-domain stream socket where a client
// sends WM_COMMAND requests, the stand-in for sending or posting a message to the
// frame's window. An accept thread and one reader per connection hand each
// command to the user-interface thread through a CommandTarget. A connection may
// turn into an image stream, registered with the owner's StreamHub, which its reader
// thread then sends.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "bridge/StreamHub.h"

namespace velomark {

// What the server needs of the main frame.
class CommandTarget {
public:
    virtual ~CommandTarget() = default;
    // Called from the server's threads: runs the task later on the UI thread.
    virtual void RunOnUiThread(std::function<void()> task) = 0;
    // Called on the UI thread: routes the id as a menu command. False when the
    // command is unknown or its update handler says disabled; it did not run.
    virtual bool ExecuteCommand(uint16_t id) = 0;
    // Called on the UI thread: whether an image stream may open now (the DSM is open).
    virtual bool AcceptsStreams() { return false; }
    // Called on the UI thread for a stream opened with the start flag: starts (or
    // joins) the acquisition whose images the stream waits for. False when refused.
    // This one routes the menu's Acquire.
    virtual bool StartStreamAcquisition();
    // Called on the UI thread for a stream with a ticket (message 0x8002): queues
    // the job whose pages go to `stream` alone. False when refused (a malformed
    // ticket, no DSM): the stream is dropped.
    virtual bool StartJobStream(const std::string& ticket, std::shared_ptr<ImageStream> stream) {
        static_cast<void>(ticket);
        static_cast<void>(stream);
        return false;
    }
    // Called on the UI thread for message 0x8003: the sources and their abilities as
    // JSON text; false when refused.
    virtual bool DescribeSources(std::string* json) {
        static_cast<void>(json);
        return false;
    }
};

class CommandServer {
public:
    // The streams clients open here join `streams`, which outlives the server.
    CommandServer(CommandTarget& target, StreamHub& streams);
    ~CommandServer();
    CommandServer(const CommandServer&) = delete;
    CommandServer& operator=(const CommandServer&) = delete;

    // Listens at the usual path (CommandSocketPath) or the one given. A socket
    // file that nobody accepts on is a leftover and is replaced; one that another
    // process serves is left alone and Start fails. False with ErrorText.
    bool Start();
    bool Start(const std::string& path);

    // Closes the listener and every connection, answers waiting senders -1, joins
    // the threads and removes the socket file. Tasks still queued to the UI thread
    // then do nothing. Safe to call twice, and from the UI thread.
    void Stop();

    bool IsRunning() const;
    const std::string& Path() const { return m_path; }
    const std::string& ErrorText() const { return m_error; }
    // The image streams clients opened here; the image hand-off feeds them.
    StreamHub& Streams() { return m_streams; }

private:
    struct Running;

    CommandTarget& m_target;
    StreamHub& m_streams;
    std::unique_ptr<Running> m_running;
    std::string m_path;
    std::string m_error;
};

}  // namespace velomark
