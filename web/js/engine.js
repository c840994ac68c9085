'use strict';
// The programs themselves, linksim-arq and linksim-check compiled to
// WebAssembly, run as a terminal would run them. Each module is compiled
// once, when the page opens, and each run instantiates it afresh: a new
// instance starts with the program's static state as a new process does,
// so no run leaks into the next, and costs a millisecond or two.
//
// A run is given its arguments, its environment (LINKSIM_ variables, as a
// shell's assignments give them) and the files it reads, in an empty
// in-memory file system whose working directory is "/"; it gives back its
// standard output and standard error as text, its exit status, and the
// files it wrote. Standard input is empty: linksim-arq FILE never reads it.

const Engine = (() => {
  const modules = {};

  /// The bytes of the module in the page's element `id`, base64.
  function moduleBytes(id) {
    const text = atob(document.getElementById(id).textContent.trim());
    const bytes = new Uint8Array(text.length);
    for (let i = 0; i < text.length; ++i) bytes[i] = text.charCodeAt(i);
    return bytes;
  }

  /// A new instance of compiled `module` from `factory`, given `config`.
  function instantiate(factory, module, config) {
    return factory(Object.assign(config, {
      instantiateWasm(imports, done) {
        WebAssembly.instantiate(module, imports).then((made) => done(made, module));
        return {};
      },
    }));
  }

  /// Compiles both modules and reads linksim-arq's table of variables from
  /// an instance that runs no main; resolves once they can run.
  async function load() {
    if (!modules.arq) {
      const [arq, check] = await Promise.all([
        WebAssembly.compile(moduleBytes('wasm-arq')),
        WebAssembly.compile(moduleBytes('wasm-check')),
      ]);
      const made = await instantiate(createLinksimArq, arq, {
        noInitialRun: true, print: () => {}, printErr: () => {},
      });
      modules.table = JSON.parse(made.UTF8ToString(made._linksim_variables_json()));
      modules.arq = {factory: createLinksimArq, module: arq};
      modules.check = {factory: createLinksimCheck, module: check};
    }
  }

  /// linksim-arq's table of variables, as its JSON gives it: one object a
  /// variable, in its order (kit::variablesJson). Once load has resolved.
  function table() {
    return modules.table;
  }

  /// Bytes a program writes to a stream, kept in the chunks written.
  class Sink {
    constructor() {
      this.chunks = [];
      this.size = 0;
    }
    write(bytes) {
      this.chunks.push(bytes.slice());
      this.size += bytes.length;
    }
    text() {
      const all = new Uint8Array(this.size);
      let at = 0;
      for (const chunk of this.chunks) {
        all.set(chunk, at);
        at += chunk.length;
      }
      return new TextDecoder().decode(all);
    }
  }

  /// Makes fd `fd` of `FS` a device that hands whole writes to `sink`: a
  /// character at a time through the default streams would cost more than
  /// the run itself on a long one.
  function redirect(FS, fd, sink, minor) {
    const device = FS.makedev(64, minor);
    FS.registerDevice(device, {
      read: () => 0,
      write: (stream, buffer, offset, length) => {
        sink.write(new Uint8Array(buffer.buffer, buffer.byteOffset + offset,
            length));
        return length;
      },
    });
    const path = `/dev/lab${minor}`;
    FS.mkdev(path, 0o666, device);
    FS.close(FS.getStream(fd));
    FS.open(path, fd === 0 ? 0 : 1, 0o666, fd, fd);
  }

  /// Runs `program` ('arq' or 'check') with `args`, `env` and `files`
  /// ({name: text}); gives {stdout, stderr, status, files: {name: text}} for
  /// the names in `outputs`, and its time in ms.
  async function run(program, {args = [], env = {}, files = {}, outputs = []}) {
    await load();
    const {factory, module} = modules[program];
    const stdout = new Sink();
    const stderr = new Sink();
    let status = null;
    const start = performance.now();
    // A program may end before main, as linksim-arq does when a variable
    // is refused while its protocol is made: the instance is then never
    // ready, and the run is over.
    let endedEarly;
    const early = new Promise((resolve) => {
      endedEarly = resolve;
    });
    const config = {
      instantiateWasm(imports, done) {
        WebAssembly.instantiate(module, imports).then((made) => {
          try {
            done(made, module);
          } catch (thrown) {
            if (!(thrown && thrown.name === 'ExitStatus')) throw thrown;
            endedEarly(null);
          }
        });
        return {};
      },
      preRun: [(m) => {
        if (m.ENV) Object.assign(m.ENV, env);
        // A folder of the run's own, so that a file opened from disk and
        // named tmp or dev meets none of the file system's own folders.
        m.FS.mkdir('/run');
        m.FS.chdir('/run');
        for (const [name, text] of Object.entries(files)) {
          const slash = name.lastIndexOf('/');
          if (slash > 0) m.FS.mkdirTree((name[0] === '/' ? '' : '/run/') + name.slice(0, slash));
          m.FS.writeFile(name, text);
        }
        m.FS.init(() => null, () => {}, () => {});
        redirect(m.FS, 1, stdout, 1);
        redirect(m.FS, 2, stderr, 2);
      }],
      noInitialRun: true,
      quit: (code, thrown) => {
        throw thrown;
      },
      onExit: (code) => {
        status = code;
      },
      print: () => {},
      printErr: () => {},
    };
    const instance = await Promise.race([factory(config), early]);
    const started = performance.now();
    if (instance) {
      try {
        instance.callMain(args);
      } catch (thrown) {
        if (!(thrown && thrown.name === 'ExitStatus')) throw thrown;
      }
    }
    // The factory's module object is the one it was given.
    const fs = config.FS;
    const written = {};
    for (const name of outputs) {
      try {
        written[name] = fs.readFile(name, {encoding: 'utf8'});
      } catch (error) {
        written[name] = null;  // not written
      }
    }
    const end = performance.now();
    return {
      stdout: stdout.text(), stderr: stderr.text(), status, files: written,
      ms: end - start, mainMs: end - started,
    };
  }

  return {load, run, table, moduleBytes};
})();
