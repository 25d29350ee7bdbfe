// The two ways a client asks for work: the status word (polled on every message)
// and the command text (read when command 32783 arrives).
#pragma once

namespace velomark {

class ChannelActions;
class SharedChannel;

// Takes up a request left in the status word: 1 selects a source, 2 acquires all
// images; 0 and 5 are left alone; any other value is reset and ignored. The reset
// is one compare-and-exchange against the value read, so a request written in
// between is neither lost nor carried out twice. A request leaves the word only
// once no acquisition runs (it is carried out then), and removes the images still
// waiting from before it. A command-text request deferred for the same reason runs
// here too. Then an image waiting for the client is placed if the client has taken
// the previous one.
void PollChannel(SharedChannel& channel, ChannelActions& actions);
void PollChannel(ChannelActions& actions);

// Reads the command text at the start of the data block; on "OnSelectDataSource"
// or "OnFileAcquire" writes the reply over it, then carries the request out (once
// no acquisition runs: until then it is deferred to the poll).
void HandleCommandText(SharedChannel& channel, ChannelActions& actions);
void HandleCommandText(ChannelActions& actions);

}  // namespace velomark
