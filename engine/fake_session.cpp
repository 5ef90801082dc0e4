#include "engine/fake_session.h"

#include <stdexcept>

namespace engine {

void fake_torrent::enter(const char* name) const
{
    calls.push_back(name);
    if (m_calls_left == 0) const_cast<fake_torrent*>(this)->removed = true;
    if (m_calls_left > 0) --m_calls_left;
    if (removed) throw invalid_handle();
}

bool fake_torrent::valid() const
{
    try {
        enter("is_valid");
    } catch (const invalid_handle&) {
        return false;
    }
    return true;
}

torrent_status fake_torrent::status() const
{
    enter("status");
    torrent_status s;
    s.total_done = done;
    s.total_payload_download = payload_download;
    s.download_payload_rate = rate;
    s.num_peers = peers;
    s.is_seeding = seeding;
    s.paused = paused;
    return s;
}

bool fake_torrent::is_seed() const
{
    enter("is_seed");
    return seeding;
}

bool fake_torrent::is_paused() const
{
    enter("is_paused");
    return paused;
}

void fake_torrent::pause()
{
    enter("pause");
    paused = true;
    ++pause_count;
}

void fake_torrent::resume()
{
    enter("resume");
    paused = false;
    ++resume_count;
}

std::int64_t fake_torrent::total_size() const
{
    enter("total_size");
    return size;
}

std::string fake_torrent::name() const
{
    enter("name");
    return torrent_name;
}

void fake_torrent::file_progress(std::vector<float>& fractions) const
{
    enter("file_progress");
    fractions = progress;
}

void fake_torrent::force_reannounce()
{
    enter("force_reannounce");
    ++force_reannounce_count;
}

int fake_torrent::peer_count() const
{
    enter("peer_count");
    return peer_list;
}

void fake_torrent::add_url_seed(const std::string& url)
{
    enter("add_url_seed");
    url_seeds.push_back(url);
}

void fake_torrent::set_max_connections(int n)
{
    enter("set_max_connections");
    max_connections = n;
}

void fake_torrent::set_max_uploads(int n)
{
    enter("set_max_uploads");
    max_uploads = n;
}

void fake_torrent::set_upload_limit(int limit)
{
    enter("set_upload_limit");
    upload_limit = limit;
}

void fake_torrent::set_download_limit(int limit)
{
    enter("set_download_limit");
    download_limit = limit;
}

fake_session::fake_session() : torrent(std::make_shared<fake_torrent>()) {}

void fake_session::add_extension_ut_pex()
{
    calls.push_back("add_extension_ut_pex");
    ut_pex = true;
}

void fake_session::set_settings(const session_settings& s)
{
    calls.push_back("set_settings");
    settings = s;
}

void fake_session::set_max_half_open_connections(int n)
{
    calls.push_back("set_max_half_open_connections");
    half_open = n;
}

void fake_session::set_max_connections(int n)
{
    calls.push_back("set_max_connections");
    max_connections = n;
}

void fake_session::set_max_uploads(int n)
{
    calls.push_back("set_max_uploads");
    max_uploads = n;
}

void fake_session::set_upload_rate_limit(int v)
{
    calls.push_back("set_upload_rate_limit");
    upload_rate_limit = v;
}

void fake_session::set_download_rate_limit(int v)
{
    calls.push_back("set_download_rate_limit");
    download_rate_limit = v;
}

void fake_session::set_alert_severity_info()
{
    calls.push_back("set_alert_severity_info");
    severity_info = true;
}

void fake_session::start_lsd()
{
    calls.push_back("start_lsd");
    lsd = true;
}

void fake_session::start_upnp()
{
    calls.push_back("start_upnp");
    upnp = true;
}

void fake_session::start_natpmp()
{
    calls.push_back("start_natpmp");
    natpmp = true;
}

void fake_session::set_pe_settings(const pe_settings& s)
{
    calls.push_back("set_pe_settings");
    pe = s;
}

void fake_session::listen_on(int first_port, int last_port)
{
    calls.push_back("listen_on");
    listen_range = std::make_pair(first_port, last_port);
}

torrent_handle fake_session::add_torrent(const torrent_info& ti, const std::string& save_path_utf8)
{
    calls.push_back("add_torrent");
    switch (add_torrent_fails) {
    case failure::std_exception: throw std::runtime_error("cannot add the torrent");
    case failure::other_exception: throw fake_non_std_exception{};
    case failure::none: break;
    }
    save_path = save_path_utf8;
    added = ti;
    return torrent->handle();
}

std::vector<alert_kind> fake_session::pop_alerts()
{
    calls.push_back("pop_alerts");
    ++pop_alerts_count;
    std::vector<alert_kind> out(alerts.begin(), alerts.end());
    alerts.clear();
    for (alert_kind k : out)
        if (k == alert_kind::file_error && added && !torrent->removed) torrent->paused = true;
    return out;
}

int fake_session::listen_port() const { return listen_range ? port_after_listen : 0; }

}  // namespace engine
