'use strict';
// A scenario: the protocols to run side by side, the variables set, and the
// link's eight settings. It is what the page's address carries in its
// fragment, name=value pairs joined by '&', URL-encoded, with the
// variables' own names and the settings file's own keys
// (#LINKSIM_ARQ=go-back-n&LINKSIM_WINDOW=4&Propagation%20Delay=40); what is
// missing takes its default. LINKSIM_ARQ may name up to four protocols,
// separated by commas, which run on the same link and variables. Values
// are kept as typed: the program, not the page, says what is wrong with
// one. A scenario also writes the shell lines that make the same runs with
// linksim-arq, and the settings file they read. An address may name an
// exercise instead (exercise.js): `exercise` and `student` are kept apart
// for it.

const LAB_MOST_PROTOCOLS = 4;

class Scenario {
  /// `link` is [key, default] of the eight settings, in the file's order.
  constructor(link) {
    this.linkDefaults = link;
    this.protocols = [];  // names as given; none: LINKSIM_ARQ unset
    this.variables = new Map();  // LINKSIM_ name -> value as given
    this.link = new Map();  // key -> value, where not the default
    this.ignored = [];  // what the address held that is none of these
    this.exercise = null;  // the address's exercise and student, if any
    this.student = '';
    // The variables' order in the runs' environment, LINKSIM_ARQ among
    // them (an exercise's own); null: the table's.
    this.order = null;
  }

  /// The scenario an address fragment (without '#') describes.
  static fromFragment(fragment, link) {
    const scenario = new Scenario(link);
    const keys = new Map(link.map(([key]) => [key.toLowerCase(), key]));
    for (const pair of fragment.split('&')) {
      if (pair === '') continue;
      const at = pair.indexOf('=');
      let name;
      let value;
      try {
        name = decodeURIComponent(at < 0 ? pair : pair.slice(0, at));
        value = at < 0 ? '' : decodeURIComponent(pair.slice(at + 1));
      } catch (error) {
        scenario.ignored.push(pair);
        continue;
      }
      if (name === 'exercise') {
        scenario.exercise = value;
      } else if (name === 'student') {
        scenario.student = value;
      } else if (name === LAB_ARQ) {
        scenario.protocols = value === '' ? [] : value.split(',');
      } else if (Object.values(LAB_FILES).includes(name)) {
        // The page names its own files; an address cannot choose them.
        scenario.ignored.push(name);
      } else if (/^LINKSIM_[A-Z0-9_]+$/.test(name)) {
        scenario.variables.set(name, value);
      } else if (keys.has(name.toLowerCase())) {
        scenario.setLink(keys.get(name.toLowerCase()), value);
      } else {
        scenario.ignored.push(name);
      }
    }
    if (scenario.protocols.length > LAB_MOST_PROTOCOLS) {
      scenario.ignored.push(
          scenario.protocols.splice(LAB_MOST_PROTOCOLS).join(','));
    }
    return scenario;
  }

  /// Sets link setting `key` to `value`; its default, or '', unsets it.
  setLink(key, value) {
    const entry = this.linkDefaults.find(([k]) => k === key);
    if (!entry || value === entry[1] || value === '') {
      this.link.delete(key);
    } else {
      this.link.set(key, value);
    }
  }

  /// Sets `name` to `value`; null unsets it.
  setVariable(name, value) {
    if (value === null) {
      this.variables.delete(name);
    } else {
      this.variables.set(name, value);
    }
  }

  /// The fragment, in a fixed order: LINKSIM_ARQ, the table's variables in
  /// its order, any other LINKSIM_ one as given, the link settings in the
  /// file's order.
  toFragment() {
    const pairs = [];
    const put = (name, value) => pairs.push(
        encodeURIComponent(name) + '=' + encodeURIComponent(value));
    if (this.protocols.length > 0) put(LAB_ARQ, this.protocols.join(','));
    for (const [name, value] of this.orderedVariables()) put(name, value);
    for (const [key] of this.linkDefaults) {
      if (this.link.has(key)) put(key, this.link.get(key));
    }
    return pairs.join('&');
  }

  /// Where variable `name` goes among the others: those of the order (the
  /// table's, or an exercise's) in it, then any other as given.
  rank(name) {
    const order = this.order || LAB_ORDER;
    const at = order.indexOf(name);
    return at < 0 ? order.length : at;
  }

  /// [name, value] of the variables set, in their order.
  orderedVariables() {
    return [...this.variables.entries()].sort(
        (a, b) => this.rank(a[0]) - this.rank(b[0]));
  }

  /// The value of link setting `key` for the run.
  linkValue(key) {
    if (this.link.has(key)) return this.link.get(key);
    const entry = this.linkDefaults.find(([k]) => k === key);
    return entry ? entry[1] : '';
  }

  /// The settings file the runs load.
  settingsText() {
    return this.linkDefaults.map(([key]) => `${key} ${this.linkValue(key)}\n`)
        .join('');
  }

  /// The runs to make: one per protocol named, or one with LINKSIM_ARQ
  /// unset. Each gives the protocol's name as given (null: unset), the
  /// files it writes and its environment.
  runs() {
    const names = this.protocols.length > 0 ? this.protocols : [null];
    const apart = names.length > 1;
    return names.map((name) => {
      const suffix = apart ? '-' + name.replace(/[^A-Za-z0-9_.-]/g, '_') : '';
      const files = {trace: `trace${suffix}.csv`, stats: `stats${suffix}.csv`};
      const set = this.orderedVariables();
      if (name !== null) {
        set.push([LAB_ARQ, name]);
        set.sort((a, b) => this.rank(a[0]) - this.rank(b[0]));
      }
      const env = Object.fromEntries(set);
      env[LAB_FILES.trace] = files.trace;
      env[LAB_FILES.stats] = files.stats;
      return {name, protocol: labProtocol(name || labUnsetProtocol),
        files, env};
    });
  }

  /// The shell lines that make the same runs in a terminal, from an empty
  /// directory: the settings file, each run, and the check of its trace
  /// where the run ran.
  command() {
    const lines = ['printf \'%s\\n\' ' +
        this.linkDefaults.map(([key]) => shellWord(`${key} ${this.linkValue(key)}`))
            .join(' ') + ' > link.txt'];
    for (const run of this.runs()) {
      const env = Object.entries(run.env)
          .map(([name, value]) => `${name}=${shellWord(value)}`).join(' ');
      lines.push(`${env} linksim-arq link.txt &&`);
      lines.push(`  linksim-check ${shellWord(run.files.trace)}`);
    }
    return lines.join('\n') + '\n';
  }
}

/// `text` as one word of the shell, quoted where it needs to be.
function shellWord(text) {
  if (/^[A-Za-z0-9_.,:/+=@%-]+$/.test(text)) return text;
  return '\'' + text.replace(/'/g, '\'\\\'\'') + '\'';
}

/// The drop list `text` ("data:3,7 ack:2") as a Map of kind -> sorted
/// numbers; words that are not "kind:n,m" are kept under the key ''.
function parseDropList(text) {
  const drops = new Map();
  for (const word of (text || '').split(/\s+/)) {
    if (word === '') continue;
    const match = /^([a-z][a-z0-9_-]*):([0-9]+(?:,[0-9]+)*)$/.exec(word);
    if (!match) {
      drops.set('', (drops.get('') || []).concat([word]));
      continue;
    }
    const numbers = new Set(drops.get(match[1]) || []);
    for (const n of match[2].split(',')) numbers.add(Number(n));
    drops.set(match[1], [...numbers].sort((a, b) => a - b));
  }
  return drops;
}

/// The drop list's text for `drops`, data first, then ACKs, then the rest.
function formatDropList(drops) {
  const order = (kind) => (kind === 'data' ? 0 : kind === 'ack' ? 1 : 2);
  const words = [];
  const kinds = [...drops.keys()].filter((k) => k !== '')
      .sort((a, b) => order(a) - order(b) || (a < b ? -1 : a > b ? 1 : 0));
  for (const kind of kinds) {
    if (drops.get(kind).length > 0) {
      words.push(`${kind}:${drops.get(kind).join(',')}`);
    }
  }
  return words.concat(drops.get('') || []).join(' ');
}

/// The drop list `text` with frame `kind`:`nth` lost if it was not, and
/// let through if it was.
function toggleDrop(text, kind, nth) {
  const drops = parseDropList(text);
  const numbers = drops.get(kind) || [];
  drops.set(kind, numbers.includes(nth) ? numbers.filter((n) => n !== nth) :
                                          numbers.concat([nth]).sort((a, b) => a - b));
  return formatDropList(drops);
}
