#pragma once
// The JSON text of scores, member by member, byte for byte as
// json.dumps(scores, ensure_ascii=False, separators=(",", ":")) writes a dict
// of them (NaN and the infinities as json writes them), handed to a
// BlockWriter: the text of millions of scores without a str per key and per
// value.
//
// Ownership contract: the writer is borrowed and must outlive the text; the
// keys are copied as they are appended.
#include <memory>
#include <string_view>

#include "block_writer.hpp"
#include "error_value.hpp"

namespace morvanex::binding {

class ScoresJsonText {
public:
    // Begins the object.
    explicit ScoresJsonText(BlockWriter& writer);
    ~ScoresJsonText();
    ScoresJsonText(const ScoresJsonText&) = delete;
    ScoresJsonText& operator=(const ScoresJsonText&) = delete;

    // Appends `key` (UTF-8) with `value`: the error that `write` raised, if
    // a block was handed on.
    Result<Done> member(std::string_view key, double value);
    // Ends the object and hands on what is left.
    Result<Done> finish();

private:
    class ReprCache;
    BlockWriter& writer_;
    std::unique_ptr<ReprCache> cache_;
    bool first_member_ = true;
};

}  // namespace morvanex::binding
