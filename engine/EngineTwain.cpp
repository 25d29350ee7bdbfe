#include "engine/EngineTwain.h"

#include <cstring>
#include <string>
#include <utility>

#include "engine/EngineHost.h"
#include "twain/SourceAbilities.h"

namespace velomark {

EngineTwain::EngineTwain(EngineHost& host, ImageReceiver receiver, PagesWanted wanted)
    : m_host(host), m_receiver(std::move(receiver)), m_wanted(std::move(wanted)) {}

EngineTwain::~EngineTwain() { ReleaseTwain(); }

std::vector<SourceAbilities> EngineTwain::Abilities() { return ListAbilities(); }

void EngineTwain::ReceiveImage(HGLOBAL hDib, const TW_IMAGEINFO& info) { m_receiver(hDib, info); }

TransferVerdict EngineTwain::ApproveTransfer(const TW_IMAGEINFO& info) {
    // The rest of a batch nobody wants is not scanned: the source ends it sooner.
    if (m_wanted && !m_wanted()) return VerdictCancelAll;
    return CTwain::ApproveTransfer(info);
}

std::optional<size_t> EngineTwain::ChooseSource(const std::vector<TW_IDENTITY>& sources,
                                                size_t preselected) {
    std::vector<std::string> names;
    for (const TW_IDENTITY& source : sources)
        names.emplace_back(source.ProductName, strnlen(source.ProductName, sizeof(TW_STR32)));
    return m_host.ChooseFromList(names, preselected);
}

}  // namespace velomark
