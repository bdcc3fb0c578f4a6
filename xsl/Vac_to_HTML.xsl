<?xml version="1.0" encoding="UTF-8"?>
<!--
  The influenza vaccination report as a page: the totals, the vaccinated by age at the end
  of the period (65 and over, under 65), then the list of vaccinated patients, each with
  the dates of the vaccinations of the period, newest first.
-->
<xsl:stylesheet version="1.0"
                xmlns:xsl="http://www.w3.org/1999/XSL/Transform"
                xmlns:v="http://www.zona12.asl.it/asl/vaccinazioni"
                xmlns:pagina="urn:zona12:pagina"
                extension-element-prefixes="pagina"
                exclude-result-prefixes="v">

  <xsl:include href="ZONA12_comune.xsl"/>

  <xsl:variable name="assistiti" select="/v:vaccinazioni/v:medico/v:assistito"/>
  <xsl:variable name="totale" select="count($assistiti)"/>

  <!-- The day ages are taken on: the period's last day, else the day the report was made.
       With dates as yyyymmdd numbers, a patient is 65 on that day when born on or before
       fine - 650000. -->
  <xsl:variable name="fine">
    <xsl:choose>
      <xsl:when test="string-length($al) = 8 and translate($al, '0123456789', '') = ''"><xsl:value-of select="$al"/></xsl:when>
      <xsl:otherwise><xsl:value-of select="substring(/v:vaccinazioni/v:dataOraProduzione, 1, 8)"/></xsl:otherwise>
    </xsl:choose>
  </xsl:variable>
  <!-- The patients whose age on that day is known: a birth date of eight digits, not after it. -->
  <xsl:variable name="con-eta"
                select="$assistiti[string-length(v:dataNascita) = 8 and translate(v:dataNascita, '0123456789', '') = ''
                                   and v:dataNascita &lt;= number($fine)]"/>
  <xsl:variable name="anziani" select="count($con-eta[v:dataNascita &lt;= $fine - 650000])"/>
  <xsl:variable name="giovani" select="count($con-eta) - $anziani"/>

  <xsl:template match="/">
    <xsl:call-template name="pagina">
      <xsl:with-param name="titolo">Vaccinazione antinfluenzale</xsl:with-param>
    </xsl:call-template>
  </xsl:template>

  <xsl:template match="/" mode="riepilogo">
    <xsl:value-of select="$totale"/>
    <xsl:choose>
      <xsl:when test="$totale = 1"> assistito vaccinato nel periodo</xsl:when>
      <xsl:otherwise> assistiti vaccinati nel periodo</xsl:otherwise>
    </xsl:choose>
  </xsl:template>

  <xsl:template match="/" mode="contenuto">
    <xsl:if test="$totale &gt; 0">
      <section>
        <div class="cifre">
          <div class="cifra-box">
            <strong><xsl:value-of select="$totale"/></strong>
            <span>assistiti vaccinati</span>
          </div>
          <div class="cifra-box">
            <strong><xsl:value-of select="count($assistiti/v:monitoraggio/v:antiInfluenzale)"/></strong>
            <span>vaccinazioni nel periodo</span>
          </div>
          <div class="cifra-box">
            <strong><xsl:value-of select="$anziani"/></strong>
            <span>
              di 65 anni e più (<xsl:call-template name="percentuale">
                <xsl:with-param name="parte" select="$anziani"/>
                <xsl:with-param name="totale" select="$totale"/>
              </xsl:call-template>)
            </span>
          </div>
          <div class="cifra-box">
            <strong><xsl:value-of select="$giovani"/></strong>
            <span>
              sotto i 65 anni (<xsl:call-template name="percentuale">
                <xsl:with-param name="parte" select="$giovani"/>
                <xsl:with-param name="totale" select="$totale"/>
              </xsl:call-template>)
            </span>
          </div>
          <xsl:if test="$totale - $anziani - $giovani &gt; 0">
            <div class="cifra-box">
              <strong><xsl:value-of select="$totale - $anziani - $giovani"/></strong>
              <span>età non nota</span>
            </div>
          </xsl:if>
        </div>
        <p class="nota">Età al <xsl:call-template name="data">
            <xsl:with-param name="valore" select="$fine"/>
          </xsl:call-template>.</p>
      </section>
      <section>
        <h2>Assistiti vaccinati</h2>
        <p class="nota">Vaccinazioni antinfluenzali del periodo, dalla più recente.</p>
        <table class="elenco">
          <thead>
            <tr>
              <th>N.</th>
              <th>Assistito</th>
              <th>Codice fiscale</th>
              <th>Sesso</th>
              <th>Data di nascita</th>
              <th>Età</th>
              <th>Vaccinazioni</th>
            </tr>
          </thead>
          <tbody>
            <!-- One block per patient. The program's processor writes each block out as soon as
                 the next one is made, so that a long report's blocks are never held together;
                 any other processor applies the same templates through the fallback. -->
            <pagina:blocchi select="$assistiti">
              <xsl:fallback><xsl:apply-templates select="$assistiti"/></xsl:fallback>
            </pagina:blocchi>
          </tbody>
        </table>
      </section>
    </xsl:if>
  </xsl:template>

  <!-- The values of a field of the table of plausible ranges (qualita-dati) in the whole
       report: none, as a vaccination's record holds only its date. -->
  <xsl:template name="valori-del-campo"/>

  <xsl:template match="v:assistito">
    <tr>
      <td class="progressivo"><xsl:value-of select="position()"/></td>
      <td class="nome">
        <span class="cognome"><xsl:value-of select="v:cognome"/></span>
        <xsl:text> </xsl:text>
        <xsl:value-of select="v:nome"/>
      </td>
      <td class="cf"><xsl:value-of select="v:codiceFiscale"/></td>
      <td><xsl:value-of select="v:sesso"/></td>
      <td>
        <xsl:call-template name="data">
          <xsl:with-param name="valore" select="v:dataNascita"/>
        </xsl:call-template>
      </td>
      <td class="eta">
        <xsl:variable name="nascita" select="string(v:dataNascita)"/>
        <xsl:if test="string-length($nascita) = 8 and translate($nascita, '0123456789', '') = '' and $nascita &lt;= number($fine)">
          <xsl:value-of select="floor(($fine - $nascita) div 10000)"/>
        </xsl:if>
      </td>
      <td>
        <xsl:for-each select="v:monitoraggio/v:antiInfluenzale">
          <xsl:call-template name="voce">
            <xsl:with-param name="data" select="v:data"/>
            <xsl:with-param name="classe" select="substring('ultima', 1, 6 * (position() = 1))"/>
          </xsl:call-template>
        </xsl:for-each>
        <xsl:if test="not(v:monitoraggio/v:antiInfluenzale)">
          <span class="assente-testo">nessuna</span>
        </xsl:if>
      </td>
    </tr>
  </xsl:template>

</xsl:stylesheet>
