#pragma once

#include <obs.h>

namespace quillmar {

// Releases a strong source reference at the end of a scope.
class ScopedSource {
public:
	explicit ScopedSource(obs_source_t *source = nullptr) : source(source) {}
	~ScopedSource() { obs_source_release(source); }
	ScopedSource(ScopedSource &&other) noexcept : source(other.source) { other.source = nullptr; }
	ScopedSource(const ScopedSource &) = delete;
	ScopedSource &operator=(const ScopedSource &) = delete;
	ScopedSource &operator=(ScopedSource &&) = delete;

	obs_source_t *source;
};

} // namespace quillmar
