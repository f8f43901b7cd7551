"""A private Firebird 3 embedded engine for tests and benchmarks.

The engine reads firebird.conf from the folder named by FIREBIRD, so a folder of our own
with links to the installed engine's files and a firebird.conf that allows our build
folder (UdfAccess is a global setting) runs it without touching the system's
configuration. Lock and temporary files go into the same folder, the database into a
fresh temporary folder per run. isql-fb is the client; in embedded mode it runs the
engine in its own process and needs no server and no password.

UDR modules load from the folder that plugins.conf names for the UDR plug-in. There
`$(dir_plugins)` means the installed engine's folder even under a private root, so with
`udr_modules` the root gets a plugins folder of its own (links to the installed plug-ins
plus a udr folder with copies of our modules: the engine checks that a module's entry
point lies in the very file it opened, which a link's target does not) and a plugins.conf
naming that udr folder by its absolute path.
"""

import os
import re
import shutil
import subprocess
import tempfile

ENGINE_HOME = "/usr/lib/x86_64-linux-gnu/firebird/3.0"
SYSTEM_CONF = "/etc/firebird/3.0"
ISQL = shutil.which("isql-fb") or "/usr/bin/isql-fb"


class SqlError(AssertionError):
    pass


class FirebirdFixture:
    def __init__(self, udf_dir, declare_sql, extra_env=None, extra_conf="", more_udf_dirs=(),
                 udr_modules=()):
        self.udf_dirs = [os.path.abspath(udf_dir)] + list(more_udf_dirs)
        self.udr_modules = [os.path.abspath(m) for m in udr_modules]
        self.work = tempfile.mkdtemp(prefix="qx-firebird-")
        self.root = os.path.join(self.work, "root")
        self.database = os.path.join(self.work, "test.fdb")
        self.env = dict(os.environ)
        self.env.update({
            "FIREBIRD": self.root,
            "FIREBIRD_LOCK": os.path.join(self.root, "lock"),
            "FIREBIRD_TMP": os.path.join(self.root, "tmp"),
            "LC_ALL": "C.UTF-8",
        })
        self.env.pop("ISC_USER", None)
        self.env.pop("ISC_PASSWORD", None)
        if extra_env:
            self.env.update(extra_env)
        self._make_root(extra_conf)
        self.run_script(
            "CREATE DATABASE '%s' DEFAULT CHARACTER SET NONE;\n"
            "INPUT '%s';\nCOMMIT;\n" % (self.database, declare_sql), database=None)

    def _make_root(self, extra_conf):
        os.makedirs(self.root)
        for name in ("firebird.msg", "intl", "lib", "include"):
            os.symlink(os.path.join(ENGINE_HOME, name), os.path.join(self.root, name))
        for name in ("databases.conf", "plugins.conf", "fbtrace.conf"):
            shutil.copy(os.path.join(SYSTEM_CONF, name), os.path.join(self.root, name))
        if self.udr_modules:
            self._make_plugins()
        else:
            os.symlink(os.path.join(ENGINE_HOME, "plugins"), os.path.join(self.root, "plugins"))
        with open(os.path.join(self.root, "firebird.conf"), "w") as conf:
            conf.write("UdfAccess = Restrict %s\n" % ";".join(self.udf_dirs))
            conf.write(extra_conf)
        os.makedirs(os.path.join(self.root, "lock"))
        os.makedirs(os.path.join(self.root, "tmp"))

    def _make_plugins(self):
        plugins = os.path.join(self.root, "plugins")
        udr = os.path.join(plugins, "udr")
        os.makedirs(udr)
        installed = os.path.join(ENGINE_HOME, "plugins")
        for name in os.listdir(installed):
            if name != "udr":
                os.symlink(os.path.join(installed, name), os.path.join(plugins, name))
        for module in self.udr_modules:
            shutil.copy(module, os.path.join(udr, os.path.basename(module)))
        conf_path = os.path.join(self.root, "plugins.conf")
        with open(conf_path) as conf:
            text = conf.read()
        text, count = re.subn(r"path\s*=\s*\$\(dir_plugins\)/udr", "path = " + udr, text)
        if count != 1:
            raise RuntimeError("%s: no UDR path to replace" % conf_path)
        with open(conf_path, "w") as conf:
            conf.write(text)

    def close(self):
        shutil.rmtree(self.work, ignore_errors=True)

    def run_script(self, script, database="default", env=None, check=True):
        """Runs SQL text (str or latin-1 bytes) in one isql-fb session; returns stdout."""
        if isinstance(script, str):
            script = script.encode("latin-1")
        if database == "default":
            script = b"CONNECT '%s';\n" % self.database.encode() + script
        returncode, out, err = self.session(script, env)
        if check and (returncode != 0 or err.strip()):
            raise SqlError("isql-fb failed (%d):\n%s\n%s" % (returncode, err, out[-2000:]))
        return out

    def session(self, script, env=None):
        """Runs SQL bytes in one isql-fb session: (exit code, stdout, stderr)."""
        path = os.path.join(self.work, "script.sql")
        with open(path, "wb") as f:
            f.write(script)
        run_env = dict(self.env)
        if env:
            run_env.update(env)
        done = subprocess.run([ISQL, "-q", "-user", "SYSDBA", "-i", path],
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                              env=run_env, timeout=600)
        return done.returncode, done.stdout.decode("latin-1"), done.stderr.decode("latin-1")

    # -- queries whose results are read exactly as the client receives them --------------

    WRAP = {
        "int": "{}",
        "double": "{}",
        "text": "CAST(({}) AS VARCHAR(32000) CHARACTER SET OCTETS)",
        "bool": "{}",
    }

    def values(self, cases, env=None):
        """cases: list of (label, kind, sql expression). Returns {label: value}.

        Text comes back as bytes (through an OCTETS cast, which isql prints in hex), NULL
        as None. A statement that fails is missing from the result."""
        return self.outcome(cases, env)[0]

    def outcome(self, cases, env=None):
        """Like values, and also the session's error output: (results, stderr)."""
        script = ["SET LIST ON;"]
        for label, kind, expr in cases:
            script.append("SELECT '%s' AS K, %s AS R FROM rdb$database;"
                          % (label, self.WRAP[kind].format(expr)))
        script = ("CONNECT '%s';\n" % self.database + "\n".join(script) + "\n").encode("latin-1")
        _, out, err = self.session(script, env)
        kinds = {label: kind for label, kind, _ in cases}
        results = {}
        label = None
        for line in out.splitlines():
            m = re.match(r"^K\s+(\S+)\s*$", line)
            if m:
                label = m.group(1)
                continue
            m = re.match(r"^R(?:\s+(.*))?$", line)
            if m and label is not None:
                results[label] = self._parse(kinds[label], (m.group(1) or "").strip())
                label = None
        return results, err

    @staticmethod
    def _parse(kind, raw):
        if raw == "<null>":
            return None
        if kind == "int":
            return int(raw)
        if kind == "double":
            return float(raw)
        if kind == "bool":
            return raw == "<true>"
        return bytes.fromhex(raw)

    def blob_bytes(self, table, column, key_column, key, length):
        """Reads a blob back in 16000-byte slices through OCTETS casts."""
        cases = [("len", "int", "(SELECT OCTET_LENGTH(%s) FROM %s WHERE %s = %d)"
                  % (column, table, key_column, key))]
        for i, start in enumerate(range(1, length + 1, 16000)):
            cases.append(("part%d" % i, "text",
                          "(SELECT SUBSTRING(%s FROM %d FOR 16000) FROM %s WHERE %s = %d)"
                          % (column, start, table, key_column, key)))
        got = self.values(cases)
        if got.get("len") is None:
            return None
        data = b"".join(got.get("part%d" % i) or b""
                        for i in range(len(cases) - 1))
        return data if got["len"] == len(data) else data + b"<length %d>" % got["len"]
