#pragma once

// Small statistics shared by the benchmarks.

#include <QElapsedTimer>

#include <algorithm>
#include <functional>
#include <vector>

namespace quillmar::bench {

inline double median(std::vector<double> values)
{
	std::sort(values.begin(), values.end());
	return values[values.size() / 2];
}

// Median wall time of repeated runs of work, in milliseconds.
inline double medianMs(int repetitions, const std::function<void()> &work)
{
	std::vector<double> times;
	for (int i = 0; i < repetitions; ++i) {
		QElapsedTimer timer;
		timer.start();
		work();
		times.push_back(double(timer.nsecsElapsed()) / 1e6);
	}
	return median(std::move(times));
}

} // namespace quillmar::bench
