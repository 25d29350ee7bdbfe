// Velomark's command ids and the toolkit's ids for them. Standard commands use the
// toolkit's stock ids, so that its document manager serves them.
#pragma once

namespace velomark::res {

// The toolkit id of a command, or -1 for a number that is no command of Velomark's.
int ToolkitId(unsigned commandId);

// The command id behind a toolkit id; 0 when there is none.
unsigned CommandIdOf(int toolkitId);

}  // namespace velomark::res
