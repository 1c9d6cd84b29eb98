-- The watch list: one row per watched domain, newest with the highest id.
CREATE TABLE domain (
    id INTEGER PRIMARY KEY AUTOINCREMENT,
    url TEXT
);
