-- Default OEM database of the camera (copied to /mnt/nand2/oem.db when that
-- file is missing): what the factory fixes for one product.
PRAGMA journal_mode = DELETE;
BEGIN;
CREATE TABLE oem_info (
    key TEXT PRIMARY KEY,
    value TEXT NOT NULL
);
INSERT INTO oem_info VALUES ('vendor', 'OEM');
INSERT INTO oem_info VALUES ('model', 'IPC-B2540');
INSERT INTO oem_info VALUES ('hardware', 'V1.2');
INSERT INTO oem_info VALUES ('serial', 'B2540000000');
INSERT INTO oem_info VALUES ('web_title', 'Network Camera');

CREATE TABLE capability (
    feature TEXT PRIMARY KEY,
    present INTEGER NOT NULL
);
INSERT INTO capability VALUES ('ircut', 1);
INSERT INTO capability VALUES ('wifi', 1);
INSERT INTO capability VALUES ('ptz', 0);
INSERT INTO capability VALUES ('audio', 1);
INSERT INTO capability VALUES ('sdcard', 1);
INSERT INTO capability VALUES ('piris', 1);

CREATE TABLE sensor (
    id INTEGER PRIMARY KEY,
    name TEXT NOT NULL,
    max_width INTEGER NOT NULL,
    max_height INTEGER NOT NULL,
    max_fps INTEGER NOT NULL
);
INSERT INTO sensor VALUES (0, 'imx335', 2592, 1944, 30);

CREATE TABLE lens (
    id INTEGER PRIMARY KEY,
    zoom_steps INTEGER NOT NULL,
    focus_steps INTEGER NOT NULL,
    piris_max INTEGER NOT NULL
);
INSERT INTO lens VALUES (0, 2768, 6764, 184);
COMMIT;
