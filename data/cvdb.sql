-- Default configuration database of the camera (copied to /mnt/nand/cvdb.db
-- when that file is missing).
PRAGMA journal_mode = DELETE;
BEGIN;
CREATE TABLE users (
    id INTEGER PRIMARY KEY,
    name TEXT NOT NULL UNIQUE,
    password TEXT NOT NULL,
    level INTEGER NOT NULL DEFAULT 1,
    enabled INTEGER NOT NULL DEFAULT 1
);
INSERT INTO users VALUES (1, 'admin', '21232f297a57a5a743894a0e4a801fc3', 0, 1);
INSERT INTO users VALUES (2, 'operator', '4b583376b2767b923c3e1da60d10de59', 1, 1);
INSERT INTO users VALUES (3, 'guest', '084e0343a0486ff05530df6c705c8bb4', 2, 0);

CREATE TABLE network (
    id INTEGER PRIMARY KEY,
    ifname TEXT NOT NULL,
    dhcp INTEGER NOT NULL DEFAULT 0,
    ip_addr TEXT NOT NULL,
    netmask TEXT NOT NULL,
    gateway TEXT NOT NULL,
    dns1 TEXT,
    dns2 TEXT,
    mac_addr TEXT
);
INSERT INTO network VALUES (1, 'eth0', 0, '192.168.0.120', '255.255.255.0', '192.168.0.1', '192.168.0.1', '8.8.8.8', '00:1a:2b:3c:4d:5e');
INSERT INTO network VALUES (2, 'wlan0', 1, '192.168.0.190', '255.255.255.0', '192.168.0.1', NULL, NULL, '00:1a:2b:3c:4d:5f');

CREATE TABLE ports (
    name TEXT PRIMARY KEY,
    port INTEGER NOT NULL
);
INSERT INTO ports VALUES ('http', 80);
INSERT INTO ports VALUES ('https', 443);
INSERT INTO ports VALUES ('rtsp', 554);
INSERT INTO ports VALUES ('onvif', 8080);

CREATE TABLE video (
    channel INTEGER PRIMARY KEY,
    codec TEXT NOT NULL,
    width INTEGER NOT NULL,
    height INTEGER NOT NULL,
    fps INTEGER NOT NULL,
    bitrate_kbps INTEGER NOT NULL,
    gop INTEGER NOT NULL,
    rc_mode TEXT NOT NULL
);
INSERT INTO video VALUES (0, 'H265', 2560, 1440, 25, 4096, 50, 'VBR');
INSERT INTO video VALUES (1, 'H264', 1280, 720, 25, 1024, 50, 'CBR');
INSERT INTO video VALUES (2, 'MJPEG', 640, 360, 10, 512, 10, 'CBR');

CREATE TABLE image (
    id INTEGER PRIMARY KEY,
    brightness INTEGER NOT NULL DEFAULT 50,
    contrast INTEGER NOT NULL DEFAULT 50,
    saturation INTEGER NOT NULL DEFAULT 50,
    sharpness INTEGER NOT NULL DEFAULT 50,
    ircut_mode TEXT NOT NULL DEFAULT 'auto',
    wdr INTEGER NOT NULL DEFAULT 0,
    flip INTEGER NOT NULL DEFAULT 0,
    mirror INTEGER NOT NULL DEFAULT 0
);
INSERT INTO image VALUES (1, 50, 50, 55, 40, 'auto', 1, 0, 0);

CREATE TABLE audio (
    id INTEGER PRIMARY KEY,
    enabled INTEGER NOT NULL,
    codec TEXT NOT NULL,
    sample_rate INTEGER NOT NULL,
    volume_in INTEGER NOT NULL,
    volume_out INTEGER NOT NULL
);
INSERT INTO audio VALUES (1, 1, 'G711A', 8000, 80, 70);

CREATE TABLE osd (
    id INTEGER PRIMARY KEY,
    show_time INTEGER NOT NULL,
    show_name INTEGER NOT NULL,
    name TEXT NOT NULL,
    position TEXT NOT NULL
);
INSERT INTO osd VALUES (1, 1, 1, 'IPCAM', 'top-left');

CREATE TABLE ptz_presets (
    preset INTEGER PRIMARY KEY,
    name TEXT NOT NULL,
    pan INTEGER NOT NULL,
    tilt INTEGER NOT NULL,
    zoom INTEGER NOT NULL
);
INSERT INTO ptz_presets VALUES (1, 'gate', 1200, 300, 0);
INSERT INTO ptz_presets VALUES (2, 'parking', 2400, 350, 10);

CREATE TABLE system (
    key TEXT PRIMARY KEY,
    value TEXT NOT NULL
);
INSERT INTO system VALUES ('device_name', 'IPCAM');
INSERT INTO system VALUES ('timezone', 'UTC+0');
INSERT INTO system VALUES ('ntp_server', 'pool.ntp.org');
INSERT INTO system VALUES ('ntp_enabled', '1');
INSERT INTO system VALUES ('language', 'en');
COMMIT;
