#include "remote/remote_state.h"

#include <QRandomGenerator64>
#include <QUuid>

#include <limits>

namespace quillmar {

RemoteState::RemoteState(MonotonicClock clock) : m_clock(std::move(clock))
{
	newEpoch();
}

QString RemoteState::open(const QString &name)
{
	if (m_sessions.size() >= MaxSessions)
		return QString();
	const QString id = QUuid::createUuid().toString(QUuid::WithoutBraces);
	m_sessions.insert(id, RemoteSession{name, now(), QString()});
	return id;
}

bool RemoteState::touch(const QString &id)
{
	const auto it = m_sessions.find(id);
	if (it == m_sessions.end())
		return false;
	it->lastSeen = now();
	return true;
}

const RemoteSession *RemoteState::session(const QString &id) const
{
	const auto it = m_sessions.constFind(id);
	return it == m_sessions.constEnd() ? nullptr : &it.value();
}

void RemoteState::setViewedScene(const QString &id, const QString &scene)
{
	const auto it = m_sessions.find(id);
	if (it != m_sessions.end())
		it->viewedScene = scene;
}

bool RemoteState::sceneInUse(const QString &scene) const
{
	if (scene.isEmpty())
		return false;
	if (m_leaseScene == scene)
		return true;
	const qint64 t = now();
	for (const RemoteSession &s : m_sessions)
		if (s.viewedScene == scene && t - s.lastSeen <= SessionIdleMs)
			return true;
	return false;
}

bool RemoteState::holdsLease(const QString &session, const QString &scene) const
{
	return leaseHeld() && m_leaseSession == session && m_leaseScene == scene;
}

void RemoteState::grantLease(const QString &session, const QString &scene)
{
	m_leaseSession = session;
	m_leaseScene = scene;
	const RemoteSession *s = this->session(session);
	m_leaseName = s ? s->name : QString();
	renewLease();
}

void RemoteState::renewLease()
{
	if (leaseHeld())
		m_leaseExpiry = now() + LeaseMs;
}

bool RemoteState::releaseLease()
{
	const bool held = leaseHeld();
	m_leaseSession.clear();
	m_leaseScene.clear();
	m_leaseName.clear();
	m_leaseExpiry = 0;
	return held;
}

void RemoteState::newEpoch()
{
	m_epoch = QUuid::createUuid().toString(QUuid::WithoutBraces);
	m_revisions.clear();
	m_changed.clear();
}

void RemoteState::countChange(const QString &scene)
{
	int &revision = m_revisions[scene];
	// Wrapping would make an old revision current again.
	if (revision < std::numeric_limits<int>::max())
		++revision;
	if (!m_changed.contains(scene))
		m_changed.append(scene);
}

QStringList RemoteState::takeChanged()
{
	QStringList changed;
	changed.swap(m_changed);
	return changed;
}

RemoteState::SweepResult RemoteState::sweep(const std::function<bool(const QString &)> &sceneExists)
{
	SweepResult result;
	const qint64 t = now();
	if (m_localOpen && m_localUntil <= t) {
		m_localOpen = false;
		result.localWindowEnded = true;
	}
	if (leaseHeld() && (m_leaseExpiry <= t || !sceneExists(m_leaseScene)))
		result.leaseExpired = true;
	for (auto it = m_sessions.begin(); it != m_sessions.end();) {
		if (t - it->lastSeen > SessionIdleMs)
			it = m_sessions.erase(it);
		else
			++it;
	}
	return result;
}

namespace {

bool droppedFromName(char32_t c)
{
	// Controls, and the marks that reorder the text shown around the name.
	return (c < 0x20) || (c >= 0x7f && c < 0xa0) || c == 0x061c || c == 0x200e || c == 0x200f ||
	       (c >= 0x202a && c <= 0x202e) || (c >= 0x2066 && c <= 0x2069) || c == 0xfeff;
}

} // namespace

QString RemoteState::cleanDeviceName(const QString &raw)
{
	QString kept;
	kept.reserve(raw.size());
	for (qsizetype i = 0; i < raw.size(); ++i) {
		const QChar c = raw.at(i);
		if (c.isHighSurrogate() && i + 1 < raw.size() && raw.at(i + 1).isLowSurrogate()) {
			kept.append(c);
			kept.append(raw.at(++i));
		} else if (c.isSurrogate()) {
			continue; // a lone half of a pair is no character
		} else if (c.isSpace()) {
			kept.append(QLatin1Char(' '));
		} else if (!droppedFromName(c.unicode())) {
			kept.append(c);
		}
	}
	kept = kept.simplified();
	if (kept.size() > MaxDeviceNameUnits) {
		qsizetype cut = MaxDeviceNameUnits;
		if (kept.at(cut - 1).isHighSurrogate())
			--cut;
		kept = kept.left(cut).trimmed();
	}
	return kept;
}

bool RemoteState::tokenMatches(const QString &given, const QString &token)
{
	quint64 difference = quint64(given.size() ^ token.size());
	for (qsizetype i = 0; i < token.size(); ++i) {
		const quint16 other = i < given.size() ? given.at(i).unicode() : 0;
		difference |= quint64(other ^ token.at(i).unicode());
	}
	return difference == 0 && !token.isEmpty();
}

QString RemoteState::newToken()
{
	QByteArray bytes;
	bytes.reserve(16);
	auto *generator = QRandomGenerator64::system();
	for (int word = 0; word < 4; ++word) {
		const quint32 value = generator->generate();
		for (int shift = 0; shift < 32; shift += 8)
			bytes.append(char((value >> shift) & 0xff));
	}
	return QString::fromLatin1(bytes.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

} // namespace quillmar
