// The two ways a client asks for work: the status word (polled on every message)
// and the command text (read when command 32783 arrives).
#pragma once

namespace velomark {

class ChannelActions;
class SharedChannel;

// Takes up a request left in the status word: 1 selects a source, 2 acquires all
// images; 0 and 5 are left alone; any other value is reset and ignored. The reset
// is one compare-and-exchange against the value read, so a request written in
// between is neither lost nor carried out twice. A request removes the images still
// waiting from before it. An acquire request that comes while an acquisition runs
// joins it (taken up at once; it starts one of its own only if that one ends
// without a page for it); a select waits in the word until no acquisition runs. A
// deferred request runs here once none runs. Then an image waiting for the client is
// placed if the client has taken the previous one.
void PollChannel(SharedChannel& channel, ChannelActions& actions);
void PollChannel(ChannelActions& actions);

// Reads the command text at the start of the data block; on "OnSelectDataSource"
// or "OnFileAcquire" writes the reply over it, then carries the request out as the
// poll does: an acquire joins a running acquisition, a select is deferred to the
// poll until none runs.
void HandleCommandText(SharedChannel& channel, ChannelActions& actions);
void HandleCommandText(ChannelActions& actions);

}  // namespace velomark
